// PNG: its reader and writers, which its row (PngFormat.cpp) names, and
// what they share: the tool's own chunks, libpng's error reporting by long
// jump, and libpng's memory taken from a job's account.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "formats/Format.h"
#include "shared/MemoryBudget.h"

namespace cstool {

// The colour model record: a text chunk with this keyword.
inline constexpr const char* kModelKey = "ColorModel";
// The selection of a masked conversion's output: ancillary, private, and
// unsafe to copy (an editor that changes the pixels must drop it).
inline constexpr png_byte kSelectionChunk[5] = {'c', 's', 'M', 'K', '\0'};

// No chunk but the pixel data may claim more than this, and no text
// inflates beyond it (libpng's limit for the chunks it reads itself).
inline constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{16} << 20;

struct PngErrorState {
  std::jmp_buf jump;
  char message[512];
  bool whole = false;     // the message is a full line already, naming the file
  bool ready = false;     // `jump` is set: before, libpng is still being created
  void* owner = nullptr;  // what the warning callback works for
};

// libpng's error callback: keeps the message and jumps back (once the jump
// is set; while libpng is created it handles its own errors).
void OnPngError(png_structp png, png_const_charp message);

// Every allocation libpng makes is taken from `account` (none: no limit);
// when the account refuses one, `refused` is set and libpng sees no memory.
struct PngMemory {
  MemoryBudget::Account* account = nullptr;
  bool refused = false;
};
png_voidp AllocateForPng(png_structp png, png_alloc_size_t size);
void FreeForPng(png_structp png, png_voidp block);

std::unique_ptr<FrameReader> OpenPngReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::string WritePng(std::FILE* stream, const Picture& picture, const WriteContext& context);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);

}  // namespace cstool

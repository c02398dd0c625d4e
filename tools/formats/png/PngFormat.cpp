#include "formats/png/PngFormat.h"

#include <cstdlib>
#include <cstring>

#include "formats/Formats.h"
#include "formats/png/PngCompression.h"

namespace cstool {
namespace {

// Each block starts with its size, so that freeing it gives back what was
// taken; 16 bytes keep the block aligned as malloc aligns.
constexpr std::size_t kBlockHeader = 16;

}  // namespace

void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  if (state->ready) std::longjmp(state->jump, 1);
}

png_voidp AllocateForPng(png_structp png, png_alloc_size_t size) {
  auto* memory = static_cast<PngMemory*>(png_get_mem_ptr(png));
  const std::uint64_t bytes = std::uint64_t{size} + kBlockHeader;
  if (memory->account != nullptr && !memory->account->Grow(bytes)) {
    memory->refused = true;
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(bytes)));
  if (block == nullptr) {
    if (memory->account != nullptr) memory->account->Shrink(bytes);
    return nullptr;
  }
  std::memcpy(block, &bytes, sizeof bytes);
  return block + kBlockHeader;
}

void FreeForPng(png_structp png, png_voidp pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  std::free(block);
  auto* memory = static_cast<PngMemory*>(png_get_mem_ptr(png));
  if (memory->account != nullptr) memory->account->Shrink(bytes);
}

namespace {

constexpr Named<std::uint64_t> kPngHelpNumbers[] = {
    {"sample-rows", kSampleRows},
    {"saving", kThoroughSavingPercent},
    {"slice-mib", kMinSlicedBytes >> 20},
    {"slice-rows", kMinSliceRows},
    {"chunk-mib", std::uint64_t{kMaxChunkBytes} >> 20},
};

}  // namespace

extern constinit const Format kPngFormat{
    .name = "png",
    .title = "PNG",
    .suffixes = ".png",
    .help =
        "any result, with alpha and metadata; the model (and a mask's selection) is recorded, so the way back "
        "needs no --from",
    .signature = std::string_view("\x89PNG\r\n\x1a\n", 8),
    .openReader = OpenPngReader,
    .openWriter = NewWriter<PictureWriter<WritePng>>,
    .writeGrey = WriteGreyPng,
    .models = kHoldsRgb | kHoldsYuv | kHoldsYCbCr | kHoldsMixed,
    .alpha = true,
    .metadata = kEveryMetadataKind,
    .writeOptions = "--compression",
    .helpNumbers = kPngHelpNumbers,
};

}  // namespace cstool

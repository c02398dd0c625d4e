// Reading pictures (PNG of any kind, JPEG) and writing PNG, with the colour
// model and selection recorded in the PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Picture.h"

namespace cstool {

// Decoded pictures above this many pixels are refused before any pixel
// memory is allocated, unless --max-pixels says otherwise: 2^27 pixels take
// 512 MiB at 4 bytes each.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 27;

struct ReadResult {
  bool ok = false;
  std::string error;  // one line naming the file, when !ok
  std::string note;   // one line, when the file needed a lossy change
};

// PNG or JPEG, told apart by their signatures. PNG: palette and grey images
// are expanded, missing alpha becomes 255 (and is not written back), 16-bit
// samples are reduced to their high 8 bits. JPEG: colour and grey files are
// read as RGB; EXIF orientation is not applied.
ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture);

enum class Compression { kFast, kDefault, kBest };

// Writes the picture (RGB, or RGBA when it has alpha) and its model record.
// Returns an error text, or nothing.
std::string WritePng(std::FILE* stream, const Picture& picture, Compression compression);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, Compression compression);

// Format-specific readers, given the open file positioned at its start.
ReadResult ReadPng(std::FILE* file, const std::string& path, std::uint64_t maxPixels, Picture& picture);
ReadResult ReadJpeg(std::FILE* file, const std::string& path, std::uint64_t maxPixels, Picture& picture);

}  // namespace cstool

// Reading pictures (PNG of any kind, JPEG) and writing PNG, with the colour
// model and selection recorded in the PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "Picture.h"

namespace cstool {

class InputFile;

// Decoded pictures above this many pixels are refused before any pixel
// memory is allocated, unless --max-pixels says otherwise: 2^27 pixels take
// 512 MiB at 4 bytes each.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 27;

// A JPEG with more scans than this is refused (a few dozen is usual).
inline constexpr int kMaxJpegScans = 500;

struct ReadLimits {
  std::uint64_t maxPixels = kDefaultMaxPixels;
  // Asked once the header is read and before the pixels' memory is taken,
  // with the picture's pixels and the bytes the decoder itself needs
  // besides them; may wait, and returns an error line to refuse the file.
  std::function<std::string(std::uint64_t pixels, std::uint64_t decoderBytes)> admit;
};

struct ReadResult {
  bool ok = false;
  std::string error;  // one line naming the file, when !ok
  std::string note;   // one line, when the file needed a lossy change
};

// PNG or JPEG, told apart by their signatures; "-" is standard input. PNG:
// palette and grey images are expanded, missing alpha becomes 255 (and is
// not written back), 16-bit samples are reduced to their high 8 bits. JPEG:
// colour and grey files are read as RGB; EXIF orientation is not applied.
// A mixed record whose selection chunk is absent is read with an empty
// selection, for the caller to decide.
ReadResult ReadImage(const std::string& path, const ReadLimits& limits, Picture& picture);
ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture);
// The same from an input already open.
ReadResult ReadImage(InputFile& input, const ReadLimits& limits, Picture& picture);

enum class Compression { kFast, kDefault, kBest };

// Writes the picture (RGB, or RGBA when it has alpha) and its model record.
// Returns an error text, or nothing.
std::string WritePng(std::FILE* stream, const Picture& picture, Compression compression);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, Compression compression);

// Format-specific readers, given the input at its start.
ReadResult ReadPng(InputFile& input, const ReadLimits& limits, Picture& picture);
ReadResult ReadJpeg(InputFile& input, const ReadLimits& limits, Picture& picture);

// "W x H is N pixels, above the limit of L (--max-pixels)", or nothing.
std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels);

}  // namespace cstool

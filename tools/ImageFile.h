// Reading pictures (PNG of any kind, JPEG, single-frame YUV4MPEG2) and
// writing PNG (with the colour model and selection recorded in it), JPEG
// and YUV4MPEG2.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
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

// PNG, JPEG or YUV4MPEG2, told apart by their first bytes; "-" is standard
// input. PNG:
// palette and grey images are expanded, missing alpha becomes 255 (and is
// not written back), 16-bit samples are reduced to their high 8 bits. JPEG:
// colour and grey files are read as RGB; EXIF orientation is not applied.
// YUV4MPEG2: one 8-bit C444 frame; its XCOLORRANGE gives the model (FULL:
// yuv, LIMITED: ycbcr), and without it the picture is marked needsModel.
// A mixed record whose selection chunk is absent is read with an empty
// selection, for the caller to decide.
ReadResult ReadImage(const std::string& path, const ReadLimits& limits, Picture& picture);
ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture);
// The same from an input already open.
ReadResult ReadImage(InputFile& input, const ReadLimits& limits, Picture& picture);

enum class Compression { kFast, kDefault, kBest };

// Writes the picture (RGB, or RGBA when it has alpha) and its model record.
// Returns an error text, or nothing.
// With `threads` above 1, a picture of 4 MiB or more is compressed in that
// many slices at once: one zlib stream of raw deflate slices, each ended by
// a sync flush, with their Adler-32 combined.
std::string WritePng(std::FILE* stream, const Picture& picture, Compression compression, int threads = 1);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, Compression compression);

// Format-specific readers, given the input at its start.
ReadResult ReadPng(InputFile& input, const ReadLimits& limits, Picture& picture);
ReadResult ReadJpeg(InputFile& input, const ReadLimits& limits, Picture& picture);
ReadResult ReadY4m(InputFile& input, const ReadLimits& limits, Picture& picture);

// The formats written, each chosen by the output's suffix or by --format.
enum class ImageFormat { kPng, kJpeg, kY4m };

struct FormatEntry {
  ImageFormat format;
  const char* name;      // as --format takes it
  const char* suffixes;  // space-separated, the first used for made names
};
inline constexpr FormatEntry kFormats[] = {
    {ImageFormat::kPng, "png", ".png"},
    {ImageFormat::kJpeg, "jpeg", ".jpg .jpeg"},
    {ImageFormat::kY4m, "y4m", ".y4m"},
};

std::optional<ImageFormat> FormatNamed(const std::string& name);
// By the path's suffix, ignoring case.
std::optional<ImageFormat> FormatBySuffix(const std::string& path);
const char* NameOf(ImageFormat format);
// The suffix for names the tool makes: ".png", ".jpg", ".y4m".
std::string SuffixOf(ImageFormat format);
// "png (.png), jpeg (.jpg .jpeg), y4m (.y4m)".
std::string FormatList();

// The format an output is written in: --format when given (and refused
// when it contradicts a known suffix), else by the suffix; "-" and
// existing devices and FIFOs are PNG unless --format says otherwise; any
// other name is refused with the list of formats. Returns an error line.
std::string ChooseFormat(const std::string& path, const std::string& formatOption, ImageFormat& format);

// Why a picture recorded as `record` cannot be written as `format` (JPEG:
// RGB only; YUV4MPEG2: yuv or ycbcr only; neither mixed), or nothing.
std::string RefusalFor(ImageFormat format, const ModelRecord& record, const std::string& path);
// Whether any pixel is not fully opaque.
bool HasTransparency(const Picture& picture);

inline constexpr int kDefaultJpegQuality = 92;
// JPEG quality at and above which the colour components keep every pixel
// (4:4:4); below it they are sampled 4:2:0.
inline constexpr int kFullChromaQuality = 90;

// The most EXIF one JPEG segment holds.
inline constexpr std::size_t kMaxJpegExifBytes = 65533 - 6;

// With the ICC profile, EXIF and density of the picture's metadata (its
// texts, sRGB, gAMA and cHRM have no place in a JPEG).
std::string WriteJpeg(std::FILE* stream, const Picture& picture, int quality);
std::string WriteGreyJpeg(std::FILE* stream, const GreyPicture& picture, int quality);
// One frame, C444, XCOLORRANGE=FULL for yuv and LIMITED for ycbcr.
std::string WriteY4m(std::FILE* stream, const Picture& picture);

// "W x H is N pixels, above the limit of L (--max-pixels)", or nothing.
std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels);

}  // namespace cstool

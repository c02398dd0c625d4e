// Reading pictures (PNG of any kind, JPEG, single-frame YUV4MPEG2) and
// writing PNG (with the colour model and selection recorded in it), JPEG
// and YUV4MPEG2.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "shared/MemoryBudget.h"
#include "shared/Picture.h"
#include "formats/png/PngCompression.h"
#include "shared/Messages.h"

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
  // Everything the reader holds is taken from this account as it is
  // allocated: the decoder's memory, the metadata, and the picture's share
  // (see AdmitPicture). None: no limit.
  MemoryBudget::Account* memory = nullptr;
};

struct ReadResult {
  std::string error;               // one line naming the file; empty when read
  std::vector<std::string> notes;  // lines naming the file: what was changed or left out
  bool Ok() const { return error.empty(); }
};

// Takes a picture's share from limits.memory once its header is read and
// before its pixels are allocated: kJobBytesPerPixel a pixel and the bytes
// the decoder needs besides. Returns a refusal naming `path`, or nothing.
std::string AdmitPicture(const ReadLimits& limits, const std::string& path, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes);

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

// Format-specific readers, given the input at its start.
ReadResult ReadPng(InputFile& input, const ReadLimits& limits, Picture& picture);
ReadResult ReadJpeg(InputFile& input, const ReadLimits& limits, Picture& picture);
ReadResult ReadY4m(InputFile& input, const ReadLimits& limits, Picture& picture);

// The formats written, each chosen by the output's suffix or by --format.
enum class ImageFormat { kPng, kJpeg, kY4m };

// The most EXIF one JPEG segment holds, and the largest ICC profile 255
// segments hold.
inline constexpr std::uint64_t kMaxJpegExifBytes = 65533 - 6;
inline constexpr std::uint64_t kMaxJpegIccBytes = std::uint64_t{255} * (65533 - 14);

struct FormatEntry {
  ImageFormat format;
  const char* name;      // as --format takes it
  const char* title;     // as messages name it
  const char* suffixes;  // space-separated, the first used for made names
  unsigned metadata;     // the MetadataKind flags it holds
  std::uint64_t maxIccBytes;
  std::uint64_t maxExifBytes;
};
inline constexpr FormatEntry kFormats[] = {
    {ImageFormat::kPng, "png", "PNG", ".png", kEveryMetadataKind, UINT64_MAX, UINT64_MAX},
    {ImageFormat::kJpeg, "jpeg", "JPEG", ".jpg .jpeg", kIccProfile | kDensity | kExif, kMaxJpegIccBytes,
     kMaxJpegExifBytes},
    {ImageFormat::kY4m, "y4m", "YUV4MPEG2", ".y4m", 0, 0, 0},
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
// when it contradicts a known suffix), else by the suffix; "-", an open
// descriptor's name and existing devices and FIFOs are PNG unless --format
// says otherwise; any other name is refused with the list of formats.
// Returns an error line.
std::string ChooseFormat(const std::string& path, const std::string& formatOption, ImageFormat& format);

// Why a picture recorded as `record` cannot be written as `format` (JPEG:
// RGB only; YUV4MPEG2: yuv or ycbcr only; neither mixed), or nothing.
std::string RefusalFor(ImageFormat format, const ModelRecord& record, const std::string& path);
// Whether any pixel is not fully opaque.
bool HasTransparency(const Picture& picture);

// The metadata kinds of `metadata` that `format` can hold and that fit it;
// one note naming `path` lists what is left out (a profile that is not an
// RGB profile is always left out: the outputs are colour pictures).
unsigned KeptMetadata(const Metadata& metadata, ImageFormat format, const std::string& path, NoteList& notes);

inline constexpr int kDefaultJpegQuality = 92;
// JPEG quality at and above which the colour components keep every pixel
// (4:4:4); below it they are sampled 4:2:0.
inline constexpr int kFullChromaQuality = 90;

// How an output is written: its format, and that format's settings.
struct WriteSettings {
  ImageFormat format = ImageFormat::kPng;
  Compression compression = Compression::kDefault;
  int quality = kDefaultJpegQuality;
  int threads = 1;  // for compressing one large PNG
};

// What a writer is given besides the picture.
struct WriteContext {
  const WriteSettings& settings;
  MemoryBudget::Account* memory;  // the writer's memory is taken from it; none: no limit
  unsigned keep;                  // the metadata kinds to write (see KeptMetadata)
  NoteList& notes;                // what the writer itself left out
};

// Writers: each returns an error text, or nothing. PNG: the picture (RGB,
// or RGBA when it has alpha) with its model record and the kept metadata;
// with `threads` above 1, a picture of kMinSlicedBytes or more is
// compressed in slices at once where the memory budget holds them. JPEG:
// the ICC profile, EXIF and density. YUV4MPEG2: one frame, C444,
// XCOLORRANGE=FULL for yuv and LIMITED for ycbcr.
std::string WritePng(std::FILE* stream, const Picture& picture, const WriteContext& context);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);
std::string WriteJpeg(std::FILE* stream, const Picture& picture, const WriteContext& context);
std::string WriteGreyJpeg(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);
std::string WriteY4m(std::FILE* stream, const Picture& picture, const WriteContext& context);

// "W x H is N pixels, above the limit of L (--max-pixels)", or nothing.
std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels);

}  // namespace cstool

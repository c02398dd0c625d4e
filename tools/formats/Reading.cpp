// Opening an input's frames by its first bytes, and what every reader
// shares.
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "formats/Formats.h"
#include "shared/InputFile.h"

namespace cstool {
namespace {

// A format with no first bytes to tell it (raw planes): its suffix tells
// it, or its option.
const Format* UnsignedFormat(const InputFile& input, const ReadOptions& options) {
  for (const Format& format : AllFormats()) {
    if (!format.signature.empty()) continue;
    if (FormatBySuffix(input.Path()) == &format || options.given.Given(format.readWhenGiven)) return &format;
  }
  return nullptr;
}

std::unique_ptr<FrameReader> Open(InputFile& input, const ReadOptions& options, ReadResult& result) {
  // Raw planes are whatever bytes they hold: a .yuv name, or '-' with
  // --input-size, is read as planes without a look at its first bytes.
  if (const Format* raw = UnsignedFormat(input, options); raw != nullptr) {
    if (FormatBySuffix(input.Path()) == raw || input.Path() == "-") return raw->openReader(input, options, result);
  }
  std::size_t longest = 0;
  for (const Format& format : AllFormats()) longest = std::max(longest, format.signature.size());
  std::string first(longest, '\0');
  first.resize(input.Peek(first.data(), first.size()));
  for (const Format& format : AllFormats()) {
    if (!format.signature.empty() && first.compare(0, format.signature.size(), format.signature) == 0) {
      return format.openReader(input, options, result);
    }
  }
  if (input.Failed()) {
    result.error = "cannot read " + input.Path() + ": " + input.Reason();
    return nullptr;
  }
  if (const Format* raw = UnsignedFormat(input, options)) return raw->openReader(input, options, result);
  std::vector<std::string> titles;
  std::string rawHint;
  for (const Format& format : AllFormats()) {
    if (!format.signature.empty()) {
      titles.emplace_back(format.title);
    } else {
      rawHint = " (raw planes are read from a " + SuffixOf(format) + " name, or with " + format.readWhenGiven + ")";
    }
  }
  result.error = input.Path() + " is not a " + JoinWords(titles) + " file" + rawHint;
  return nullptr;
}

}  // namespace

bool MayRead(const Format& format, const std::string& path) {
  return !format.signature.empty() || path == "-" || FormatBySuffix(path) == &format;
}

std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels) {
  const auto pixels = CheckedProduct(width, height);
  if (pixels && *pixels <= maxPixels) return {};
  return path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is " +
         (pixels ? std::to_string(*pixels) : std::string("more than 2^64")) + " pixels, above the limit of " +
         std::to_string(maxPixels) + " (--max-pixels)";
}

std::string AdmitPicture(const ReadOptions& options, const std::string& path, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes) {
  if (options.memory == nullptr) return {};
  // Sizes are checked: a product that would wrap needs more than any budget.
  const auto pixels = CheckedProduct(width, height);
  const auto share = pixels ? CheckedProduct(*pixels, kJobBytesPerPixel) : std::nullopt;
  const auto bytes = share ? CheckedSum(*share, decoderBytes) : std::nullopt;
  if (!bytes) {
    return path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is too large to hold in memory";
  }
  if (options.memory->Grow(*bytes)) return {};
  return path + " " + options.memory->Refusal();
}

namespace {

// Runs `read`; memory that cannot be had is the file's one-line failure.
template <typename Read>
bool WithinMemory(InputFile& input, ReadResult& result, Read read) {
  try {
    read();
    return true;
  } catch (const std::bad_alloc&) {
    result.error = input.Path() + ": out of memory while reading it";
  } catch (const std::length_error&) {
    result.error = input.Path() + ": too large to hold in memory";
  }
  return false;
}

}  // namespace

std::unique_ptr<FrameReader> OpenFrames(InputFile& input, const ReadOptions& options, ReadResult& result) {
  std::unique_ptr<FrameReader> frames;
  WithinMemory(input, result, [&] { frames = Open(input, options, result); });
  return frames;
}

ReadResult ReadImage(InputFile& input, const ReadOptions& options, Picture& picture) {
  ReadResult result;
  const bool read = WithinMemory(input, result, [&] {
    const std::unique_ptr<FrameReader> frames = Open(input, options, result);
    if (frames == nullptr) return;
    if (!frames->Next(picture, result)) {
      if (result.Ok()) result.error = input.Path() + " holds no frame";
    } else if (frames->MoreFrames()) {  // told without reading the next frame
      result.error = input.Path() + " holds more than one frame, where one picture is read";
    }
  });
  if (!read) result.notes.clear();
  if (!result.Ok()) picture = Picture{};
  return result;
}

ReadResult ReadImage(const std::string& path, const ReadOptions& options, Picture& picture) {
  ReadResult result;
  auto input = InputFile::Open(path, result.error);
  if (!input) return result;
  return ReadImage(*input, options, picture);
}

ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture) {
  ReadOptions options;
  options.maxPixels = maxPixels;
  return ReadImage(path, options, picture);
}

}  // namespace cstool

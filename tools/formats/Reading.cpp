#include "formats/Formats.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "shared/InputFile.h"

namespace cstool {
namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr unsigned char kJpegSignature[3] = {0xFF, 0xD8, 0xFF};
constexpr char kY4mSignature[10] = {'Y', 'U', 'V', '4', 'M', 'P', 'E', 'G', '2', ' '};

}  // namespace

std::string CheckPixelLimit(const std::string& path, std::uint64_t width, std::uint64_t height,
                            std::uint64_t maxPixels) {
  const auto pixels = CheckedProduct(width, height);
  if (pixels && *pixels <= maxPixels) return {};
  return path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is " +
         (pixels ? std::to_string(*pixels) : std::string("more than 2^64")) + " pixels, above the limit of " +
         std::to_string(maxPixels) + " (--max-pixels)";
}

std::string AdmitPicture(const ReadLimits& limits, const std::string& path, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes) {
  if (limits.memory == nullptr) return {};
  // Sizes are checked: a product that would wrap needs more than any budget.
  const auto pixels = CheckedProduct(width, height);
  const auto share = pixels ? CheckedProduct(*pixels, kJobBytesPerPixel) : std::nullopt;
  const auto bytes = share ? CheckedSum(*share, decoderBytes) : std::nullopt;
  if (!bytes)
    return path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is too large to hold in memory";
  if (limits.memory->Grow(*bytes)) return {};
  return path + " " + limits.memory->Refusal(*bytes);
}

ReadResult ReadImage(InputFile& input, const ReadLimits& limits, Picture& picture) {
  ReadResult result;
  try {
    unsigned char signature[sizeof kY4mSignature] = {};
    const std::size_t got = input.Peek(signature, sizeof signature);
    if (got >= sizeof kPngSignature && std::memcmp(signature, kPngSignature, sizeof kPngSignature) == 0) {
      return ReadPng(input, limits, picture);
    }
    if (got >= sizeof kJpegSignature && std::memcmp(signature, kJpegSignature, sizeof kJpegSignature) == 0) {
      return ReadJpeg(input, limits, picture);
    }
    if (got == sizeof kY4mSignature && std::memcmp(signature, kY4mSignature, sizeof kY4mSignature) == 0) {
      return ReadY4m(input, limits, picture);
    }
    result.error = input.Failed() ? "cannot read " + input.Path() + ": " + input.Reason()
                                  : input.Path() + " is not a PNG, JPEG or YUV4MPEG2 file";
  } catch (const std::bad_alloc&) {
    picture = Picture{};
    result = ReadResult{};
    result.error = input.Path() + ": out of memory while reading it";
  } catch (const std::length_error&) {
    picture = Picture{};
    result = ReadResult{};
    result.error = input.Path() + ": too large to hold in memory";
  }
  return result;
}

ReadResult ReadImage(const std::string& path, const ReadLimits& limits, Picture& picture) {
  ReadResult result;
  auto input = InputFile::Open(path, result.error);
  if (!input) return result;
  return ReadImage(*input, limits, picture);
}

ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture) {
  ReadLimits limits;
  limits.maxPixels = maxPixels;
  return ReadImage(path, limits, picture);
}

}  // namespace cstool

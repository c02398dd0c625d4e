// A picture in memory, as the tool reads, converts and writes it.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/ColorModel.h"

namespace cstool {

// Leaves new elements uninitialised: a picture's memory is written by its
// decoder, so pages a damaged file never reaches are never touched.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  explicit UninitialisedAllocator(const UninitialisedAllocator<U>& /*other*/) noexcept {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};

using PixelBytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// What a file says about its picture besides the pixels, kept from input
// to output. The values are as PNG stores them.
struct Metadata {
  struct Text {
    int compression = -1;  // libpng's: -1 tEXt, 0 zTXt, 1 iTXt, 2 compressed iTXt
    std::string key;
    std::string text;
    std::string language;       // iTXt only
    std::string translatedKey;  // iTXt only
  };
  struct Density {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    int unit = 0;  // 0: aspect ratio only, 1: pixels per metre
  };
  std::string iccName;
  std::vector<std::uint8_t> icc;  // the ICC profile, uncompressed; empty: none
  std::optional<int> srgbIntent;
  std::optional<std::int32_t> gamma;                        // gAMA, times 100000
  std::optional<std::vector<std::int32_t>> chromaticities;  // cHRM: white, red, green, blue (x, y), times 100000
  std::optional<Density> density;
  std::vector<Text> texts;         // the colour model record excepted
  std::vector<std::uint8_t> exif;  // from the TIFF header on; empty: none
};

// The kinds of metadata, as a format says which it holds.
enum MetadataKind : unsigned {
  kIccProfile = 1U << 0,
  kSrgb = 1U << 1,
  kGamma = 1U << 2,
  kChromaticities = 1U << 3,
  kDensity = 1U << 4,
  kTexts = 1U << 5,
  kExif = 1U << 6,
};
inline constexpr unsigned kEveryMetadataKind = (1U << 7) - 1;

// The kinds `metadata` holds.
unsigned PresentMetadata(const Metadata& metadata);
// The colour space an ICC profile describes ("RGB ", "GRAY", "CMYK"...),
// from its header; empty for a profile too short to say.
std::string IccColourSpace(const std::vector<std::uint8_t>& profile);

struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  PixelBytes bgra;       // 4 bytes a pixel: B, G, R, A (or V/Cr, U/Cb, Y, A)
  bool hasAlpha = true;  // false: every A is 255, and the file is written without it
  ModelRecord record;
  Metadata metadata;
  // The file holds luma and colour-difference planes but does not say
  // their range (raw planes, or a YUV4MPEG2 file without XCOLORRANGE read
  // with --from): --from decides.
  bool needsModel = false;
  // Decoded from a lossy file (JPEG): its values carry compression noise.
  bool lossy = false;

  std::size_t Pixels() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
};

// A grey 8-bit picture for writing: one byte per pixel.
struct GreyPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> grey;
};

// Converts the pixels of `picture` from `from` to `to` in place with the
// library: every pixel by the fast path, or with `exact` by the exact path;
// or, given a selection (one byte per pixel, non-zero selects), only the
// selected pixels, exactly. yuv and ycbcr convert through rgb, two
// conversions that each round (or truncate) once; the same model is left
// as it is. Returns an error line, or nothing. The record is left to the
// caller.
std::string ConvertPixels(Picture& picture, Model from, Model to, const std::vector<std::uint8_t>* selection,
                          bool exact);

// The longest side a picture may have, read or written: a PNG's longest,
// so that any frame can be written as a picture.
inline constexpr std::uint64_t kMaxPictureSide = 0x7FFFFFFF;

// The three components as grey images, first, second, third: side by side,
// or one above the other when three widths would make too long a side.
GreyPicture Planes(const Picture& picture);

}  // namespace cstool

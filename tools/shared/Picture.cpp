#include "shared/Picture.h"

#include <ColorSpace/ColorSpace.h>

namespace cstool {

unsigned PresentMetadata(const Metadata& metadata) {
  unsigned kinds = 0;
  if (!metadata.icc.empty()) kinds |= kIccProfile;
  if (metadata.srgbIntent) kinds |= kSrgb;
  if (metadata.gamma) kinds |= kGamma;
  if (metadata.chromaticities) kinds |= kChromaticities;
  if (metadata.density) kinds |= kDensity;
  if (!metadata.texts.empty()) kinds |= kTexts;
  if (!metadata.exif.empty()) kinds |= kExif;
  return kinds;
}

std::string IccColourSpace(const std::vector<std::uint8_t>& profile) {
  constexpr std::size_t kColourSpaceAt = 16;
  if (profile.size() < kColourSpaceAt + 4) return {};
  return std::string(profile.begin() + kColourSpaceAt, profile.begin() + kColourSpaceAt + 4);
}

namespace {

// One step the library takes: to or from rgb.
// A selection takes the exact path for the pixels it selects.
std::string ConvertStep(Picture& picture, Model from, Model to, const std::vector<std::uint8_t>* selection) {
  tColorInterfaceImage image{
      picture.bgra.data(), picture.width,
      picture.height,      4 * picture.width,
      FormatCodeOf(from),  selection != nullptr ? const_cast<std::uint8_t*>(selection->data()) : nullptr,
      picture.width};
  const bool useMask = selection != nullptr;
  CColorSpace converter;
  bool done = false;
  if (from == Model::kRGB) {
    done = to == Model::kYUV ? converter.RGBtoYUV(&image, useMask) : converter.RGBtoYCbCr(&image, useMask);
  } else {
    done = from == Model::kYUV ? converter.YUVtoRGB(&image, useMask) : converter.YCbCrtoRGB(&image, useMask);
  }
  if (!done || image.nFormat != FormatCodeOf(to)) return "the library refused the conversion";
  return {};
}

}  // namespace

std::string ConvertPixels(Picture& picture, Model from, Model to, const std::vector<std::uint8_t>* selection,
                          bool exact) {
  if (from == to) return {};
  // The exact path is the library's masked one: every pixel selected.
  std::vector<std::uint8_t> everything;
  if (selection == nullptr && exact) {
    everything.assign(picture.Pixels(), 1);
    selection = &everything;
  }
  if (from != Model::kRGB && to != Model::kRGB) {
    // yuv and ycbcr meet in rgb: two conversions, each rounding once.
    const std::string error = ConvertStep(picture, from, Model::kRGB, selection);
    return error.empty() ? ConvertStep(picture, Model::kRGB, to, selection) : error;
  }
  return ConvertStep(picture, from, to, selection);
}

GreyPicture Planes(const Picture& picture) {
  // Side by side, unless three widths make too long a side.
  const bool sideBySide = 3 * static_cast<std::uint64_t>(picture.width) <= kMaxPictureSide;
  GreyPicture planes;
  planes.width = sideBySide ? 3 * picture.width : picture.width;
  planes.height = sideBySide ? picture.height : 3 * picture.height;
  planes.grey.resize(static_cast<std::size_t>(planes.width) * static_cast<std::size_t>(planes.height));
  const auto width = static_cast<std::size_t>(picture.width);
  const auto height = static_cast<std::size_t>(picture.height);
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* row = &picture.bgra[4 * y * width];
    for (std::size_t component = 0; component < 3; ++component) {
      // Where this row of this component starts in the planes picture.
      const std::size_t start = sideBySide ? y * 3 * width + component * width : (component * height + y) * width;
      std::uint8_t* out = &planes.grey[start];
      for (std::size_t x = 0; x < width; ++x) out[x] = row[4 * x + 2 - component];
    }
  }
  return planes;
}

}  // namespace cstool

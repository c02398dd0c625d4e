#include "Picture.h"

#include <ColorSpace/ColorSpace.h>

namespace cstool {

bool Convertible(Model from, Model to) { return from != to && (from == Model::kRGB || to == Model::kRGB); }

std::string ConvertPixels(Picture& picture, Model from, Model to, const std::vector<std::uint8_t>* selection,
                          bool exact) {
  if (!Convertible(from, to)) return "no conversion from " + std::string(NameOf(from)) + " to " + NameOf(to);
  std::vector<std::uint8_t> everything;
  if (selection == nullptr && exact) {
    everything.assign(picture.Pixels(), 1);
    selection = &everything;
  }
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

GreyPicture Planes(const Picture& picture) {
  GreyPicture planes;
  planes.width = 3 * picture.width;
  planes.height = picture.height;
  planes.grey.resize(static_cast<std::size_t>(planes.width) * static_cast<std::size_t>(planes.height));
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::uint8_t* row = &picture.bgra[4 * static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width)];
    std::uint8_t* out = &planes.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(planes.width)];
    for (std::int32_t x = 0; x < picture.width; ++x) {
      for (int component = 0; component < 3; ++component) {
        out[static_cast<std::size_t>(component * picture.width + x)] =
            row[4 * static_cast<std::size_t>(x) + 2 - static_cast<std::size_t>(component)];
      }
    }
  }
  return planes;
}

}  // namespace cstool

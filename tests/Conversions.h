// The four conversions as the tests, the probe, the benchmark and the fuzzer
// see them: their members, format codes and matrices.
#pragma once

#include <ColorSpace/ColorSpace.h>

#include <array>
#include <cstdint>

#include "ColorTables.h"

namespace testing_support {

struct Conversion {
  const char* name;
  std::int32_t from;
  std::int32_t to;
  void (CColorSpace::*packed)(std::uint32_t&);
  void (CColorSpace::*components)(std::uint8_t&, std::uint8_t&, std::uint8_t&);
  bool (CColorSpace::*twoImages)(const tColorInterfaceImage*, tColorInterfaceImage*, bool);
  bool (CColorSpace::*inPlace)(tColorInterfaceImage*, bool);
  // Memory order, written out from the decimals, independently of the
  // library's tables.
  float decimalTwist[3][4];
  // The library's own: memory order for the unmasked path, and the exact
  // component-order form of the masked path.
  const colorspace::Matrix34* twist;
  const colorspace::ExactMatrix34* exact;
};

// Made at run time: where the members are imported from a DLL their
// addresses are not constants, and a table initialised at load would need a
// runtime to run its initialiser.
inline std::array<Conversion, 4> AllConversions() {
  using Packed = void (CColorSpace::*)(std::uint32_t&);
  using Components = void (CColorSpace::*)(std::uint8_t&, std::uint8_t&, std::uint8_t&);
  using TwoImages = bool (CColorSpace::*)(const tColorInterfaceImage*, tColorInterfaceImage*, bool);
  using InPlace = bool (CColorSpace::*)(tColorInterfaceImage*, bool);
  return {{
      {"RGBtoYUV",
       FORMAT_RGB,
       FORMAT_YUV,
       static_cast<Packed>(&CColorSpace::RGBtoYUV),
       static_cast<Components>(&CColorSpace::RGBtoYUV),
       static_cast<TwoImages>(&CColorSpace::RGBtoYUV),
       static_cast<InPlace>(&CColorSpace::RGBtoYUV),
       {{-0.0813F, -0.4187F, 0.5F, 128.0F}, {0.5F, -0.33142F, -0.16858F, 128.0F}, {0.114F, 0.587F, 0.299F, 0.0F}},
       &colorspace::kTwistRGBtoYUV,
       &colorspace::kExactRGBtoYUV},
      {"YUVtoRGB",
       FORMAT_YUV,
       FORMAT_RGB,
       static_cast<Packed>(&CColorSpace::YUVtoRGB),
       static_cast<Components>(&CColorSpace::YUVtoRGB),
       static_cast<TwoImages>(&CColorSpace::YUVtoRGB),
       static_cast<InPlace>(&CColorSpace::YUVtoRGB),
       {{0.0F, 1.779F, 1.0F, -227.712F}, {-0.7169F, -0.3455F, 1.0F, 135.9872F}, {1.4075F, 0.0F, 1.0F, -180.16F}},
       &colorspace::kTwistYUVtoRGB,
       &colorspace::kExactYUVtoRGB},
      {"RGBtoYCbCr",
       FORMAT_RGB,
       FORMAT_YCBCR,
       static_cast<Packed>(&CColorSpace::RGBtoYCbCr),
       static_cast<Components>(&CColorSpace::RGBtoYCbCr),
       static_cast<TwoImages>(&CColorSpace::RGBtoYCbCr),
       static_cast<InPlace>(&CColorSpace::RGBtoYCbCr),
       {{-0.071F, -0.368F, 0.439F, 128.0F}, {0.439F, -0.291F, -0.148F, 128.0F}, {0.098F, 0.504F, 0.257F, 16.0F}},
       &colorspace::kTwistRGBtoYCbCr,
       &colorspace::kExactRGBtoYCbCr},
      {"YCbCrtoRGB",
       FORMAT_YCBCR,
       FORMAT_RGB,
       static_cast<Packed>(&CColorSpace::YCbCrtoRGB),
       static_cast<Components>(&CColorSpace::YCbCrtoRGB),
       static_cast<TwoImages>(&CColorSpace::YCbCrtoRGB),
       static_cast<InPlace>(&CColorSpace::YCbCrtoRGB),
       {{0.0F, 2.017F, 1.164F, -276.8F}, {-0.813F, -0.392F, 1.164F, 135.616F}, {1.596F, 0.0F, 1.164F, -222.912F}},
       &colorspace::kTwistYCbCrtoRGB,
       &colorspace::kExactYCbCrtoRGB},
  }};
}

}  // namespace testing_support

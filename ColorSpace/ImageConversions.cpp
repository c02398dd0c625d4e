// Whole-image conversions. All eight members run one procedure: check the
// descriptors, then either twist every pixel (fixed point, saturated) or convert
// the pixels the source mask selects (exact), then record the new format.
#include <cstdint>

#include "ColorSpace.h"
#include "ColorTables.h"
#include "ColorTwist.h"
#include "ImageChecks.h"

namespace {

using colortwist::ExactFixedTwist;
using colortwist::FixedTwist;

// The fixed-point forms of the four conversions, made at compile time from
// the coefficients' bit patterns, so that an image call only picks a kernel.
struct Conversion {
  std::int32_t sourceFormat;
  std::int32_t targetFormat;
  FixedTwist rounded;     // memory order, for the unmasked path
  ExactFixedTwist exact;  // for the masked path
};

constexpr Conversion MakeConversion(std::int32_t sourceFormat, std::int32_t targetFormat,
                                    const colorspace::Matrix34& twist, const colorspace::ExactMatrix34& exact) {
  return {sourceFormat, targetFormat, *colortwist::MakeFixedTwist(twist), *colortwist::MakeExactFixedTwist(exact)};
}

static_assert(colortwist::MakeFixedTwist(colorspace::kTwistRGBtoYUV) &&
              colortwist::MakeFixedTwist(colorspace::kTwistYUVtoRGB) &&
              colortwist::MakeFixedTwist(colorspace::kTwistRGBtoYCbCr) &&
              colortwist::MakeFixedTwist(colorspace::kTwistYCbCrtoRGB));
static_assert(colortwist::MakeExactFixedTwist(colorspace::kExactRGBtoYUV) &&
              colortwist::MakeExactFixedTwist(colorspace::kExactYUVtoRGB) &&
              colortwist::MakeExactFixedTwist(colorspace::kExactRGBtoYCbCr) &&
              colortwist::MakeExactFixedTwist(colorspace::kExactYCbCrtoRGB));

constexpr Conversion kRGBtoYUV =
    MakeConversion(FORMAT_RGB, FORMAT_YUV, colorspace::kTwistRGBtoYUV, colorspace::kExactRGBtoYUV);
constexpr Conversion kYUVtoRGB =
    MakeConversion(FORMAT_YUV, FORMAT_RGB, colorspace::kTwistYUVtoRGB, colorspace::kExactYUVtoRGB);
constexpr Conversion kRGBtoYCbCr =
    MakeConversion(FORMAT_RGB, FORMAT_YCBCR, colorspace::kTwistRGBtoYCbCr, colorspace::kExactRGBtoYCbCr);
constexpr Conversion kYCbCrtoRGB =
    MakeConversion(FORMAT_YCBCR, FORMAT_RGB, colorspace::kTwistYCbCrtoRGB, colorspace::kExactYCbCrtoRGB);

// Converts src into dst; dst == src is the in-place form. Nothing is written
// unless every check passes.
bool ConvertImage(const tColorInterfaceImage* src, tColorInterfaceImage* dst, const Conversion& conversion,
                  bool useMask) {
  if (!colorspace::IsUsableImage(src) || src->nFormat != conversion.sourceFormat) return false;
  if (!colorspace::IsUsableImage(dst) || dst->nWidth != src->nWidth || dst->nHeight != src->nHeight) {
    return false;
  }
  const colortwist::TwistSize size{src->nWidth, src->nHeight};
  int status = colortwist::kStatusOk;
  if (!useMask) {
    status = colortwist::ColorTwist(src->pData, src->nStep, dst->pData, dst->nStep, size, conversion.rounded);
  } else {
    if (!colorspace::HasUsableMask(*src)) return false;
    status = colortwist::MaskedTwist(src->pData, src->nStep, dst->pData, dst->nStep, src->pMask, src->nMaskStep, size,
                                     conversion.exact);
  }
  if (status != colortwist::kStatusOk) return false;
  dst->nFormat = conversion.targetFormat;
  return true;
}

}  // namespace

bool CColorSpace::RGBtoYCbCr(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask) {
  return ConvertImage(pSrc, pDst, kRGBtoYCbCr, bUseMask);
}

bool CColorSpace::RGBtoYCbCr(tColorInterfaceImage* pImage, bool bUseMask) {
  return ConvertImage(pImage, pImage, kRGBtoYCbCr, bUseMask);
}

bool CColorSpace::RGBtoYUV(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask) {
  return ConvertImage(pSrc, pDst, kRGBtoYUV, bUseMask);
}

bool CColorSpace::RGBtoYUV(tColorInterfaceImage* pImage, bool bUseMask) {
  return ConvertImage(pImage, pImage, kRGBtoYUV, bUseMask);
}

bool CColorSpace::YCbCrtoRGB(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask) {
  return ConvertImage(pSrc, pDst, kYCbCrtoRGB, bUseMask);
}

bool CColorSpace::YCbCrtoRGB(tColorInterfaceImage* pImage, bool bUseMask) {
  return ConvertImage(pImage, pImage, kYCbCrtoRGB, bUseMask);
}

bool CColorSpace::YUVtoRGB(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask) {
  return ConvertImage(pSrc, pDst, kYUVtoRGB, bUseMask);
}

bool CColorSpace::YUVtoRGB(tColorInterfaceImage* pImage, bool bUseMask) {
  return ConvertImage(pImage, pImage, kYUVtoRGB, bUseMask);
}

// Descriptor checks shared by the image members.
#pragma once

#include <cstdint>

#include "ColorSpace.h"

namespace colorspace {

inline constexpr std::int32_t kMaxFormatCode = 4096;

// Tests in a fixed order; the first failure decides. The step's bit pattern
// is compared as unsigned (so rows at decreasing addresses pass), against
// four bytes per pixel computed in 64 bits so that huge widths cannot wrap
// around to a small product.
inline bool IsUsableImage(const tColorInterfaceImage* image) {
  if (image == nullptr) return false;
  if (image->pData == nullptr) return false;
  if (image->nWidth <= 0) return false;
  if (image->nHeight <= 0) return false;
  const std::uint64_t step = static_cast<std::uint32_t>(image->nStep);
  if (step < static_cast<std::uint64_t>(image->nWidth) * 4U) return false;
  if (image->nFormat <= 0) return false;
  if (image->nFormat > kMaxFormatCode) return false;
  return true;
}

inline bool HasUsableMask(const tColorInterfaceImage& image) {
  return image.pMask != nullptr && image.nMaskStep >= image.nWidth;
}

}  // namespace colorspace

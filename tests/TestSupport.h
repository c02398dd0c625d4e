// Helpers shared by the tests: images with guard bands, reference formulas.
#pragma once

#include <ColorSpace/ColorSpace.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Members.h"

namespace testing_support {

inline constexpr std::uint8_t kCanary = 0xA5;
inline constexpr std::size_t kGuard = 64;

// A pixel buffer of height rows, |step| bytes apart, with guard bands on both
// sides filled with a canary. A negative step describes the same memory
// bottom-up: the descriptor points at the last row.
class TestImage {
 public:
  TestImage(std::int32_t width, std::int32_t height, std::int32_t step, std::int32_t format)
      : width_(width), height_(height), step_(step), format_(format) {
    const std::size_t rowBytes = static_cast<std::size_t>(step < 0 ? -step : step);
    bytes_.assign(2 * kGuard + rowBytes * static_cast<std::size_t>(height), kCanary);
  }

  void FillRandom(std::mt19937& random) {
    for (std::size_t i = kGuard; i + kGuard < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(random());
  }

  void SetMask(std::int32_t maskStep, const std::vector<std::uint8_t>& selected) {
    maskStep_ = maskStep;
    mask_.assign(2 * kGuard + static_cast<std::size_t>(maskStep) * static_cast<std::size_t>(height_), kCanary);
    for (std::int32_t r = 0; r < height_; ++r) {
      for (std::int32_t c = 0; c < width_; ++c) {
        mask_[kGuard + static_cast<std::size_t>(r) * static_cast<std::size_t>(maskStep) + static_cast<std::size_t>(c)] =
            selected[static_cast<std::size_t>(r) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(c)];
      }
    }
  }

  std::uint8_t MaskAt(std::int32_t r, std::int32_t c) const {
    return mask_[kGuard + static_cast<std::size_t>(r) * static_cast<std::size_t>(maskStep_) +
                 static_cast<std::size_t>(c)];
  }

  tColorInterfaceImage Descriptor() {
    tColorInterfaceImage image{};
    image.pData = FirstRow();
    image.nWidth = width_;
    image.nHeight = height_;
    image.nStep = step_;
    image.nFormat = format_;
    image.pMask = mask_.empty() ? nullptr : mask_.data() + kGuard;
    image.nMaskStep = maskStep_;
    return image;
  }

  std::uint8_t* Pixel(std::int32_t r, std::int32_t c) {
    return FirstRow() + static_cast<std::ptrdiff_t>(r) * step_ + std::ptrdiff_t{4} * c;
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  const std::vector<std::uint8_t>& MaskBytes() const { return mask_; }
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }

  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kCanary || bytes_[bytes_.size() - 1 - i] != kCanary) return false;
    }
    return true;
  }

 private:
  std::uint8_t* FirstRow() {
    std::uint8_t* start = bytes_.data() + kGuard;
    if (step_ >= 0) return start;
    return start + static_cast<std::ptrdiff_t>(height_ - 1) * -step_;
  }

  std::int32_t width_;
  std::int32_t height_;
  std::int32_t step_;
  std::int32_t format_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> mask_;
  std::int32_t maskStep_ = 0;
};

inline std::uint32_t PackedAt(const std::uint8_t* pixel) {
  return (std::uint32_t{pixel[2]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[0];
}

}  // namespace testing_support

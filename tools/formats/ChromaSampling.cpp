#include "formats/ChromaSampling.h"

#include <algorithm>
#include <cstring>

// The row loops are plain loops for the compiler to vectorise. Where it can
// choose between copies of a function when the program loads (GCC and clang
// on x86-64 Linux), they are also built for AVX2 and AVX-512 machines, which
// take twice the pixels a step or more; elsewhere they are built once.
// ThreadSanitizer cannot run a copy chooser (it runs before the sanitizer
// has started), so a build under it has one copy.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CSTOOL_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define CSTOOL_THREAD_SANITIZER 1
#endif
#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(CSTOOL_THREAD_SANITIZER)
#define CSTOOL_VECTOR_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define CSTOOL_VECTOR_CLONES
#endif

namespace cstool {
namespace {

// The loops are free of branches and divisions, and their sums stay within
// 16 bits (at most 4 x 1020 + 8), so that they run in 16-bit lanes.

// Across a plane row at the centre siting's positions: sample i sits between
// columns 2i and 2i+1, so each column takes 3/4 of its nearer sample and 1/4
// of the next; times 4. padded holds the row with its end samples repeated
// at padded[0] and padded[chromaWidth + 1].
void InterpolateBetween(const std::uint8_t* padded, std::size_t chromaWidth, std::uint16_t* out) {
  for (std::size_t i = 0; i < chromaWidth; ++i) {
    const auto nearer = static_cast<std::uint16_t>(3 * padded[i + 1]);
    out[2 * i] = static_cast<std::uint16_t>(nearer + padded[i]);
    out[2 * i + 1] = static_cast<std::uint16_t>(nearer + padded[i + 2]);
  }
}

// Across a plane row whose sample i sits at column 2i: even columns take it
// and odd columns the mean of their two neighbours, all times 2.
void InterpolateCosited(const std::uint8_t* padded, std::size_t chromaWidth, std::uint16_t* out) {
  for (std::size_t i = 0; i < chromaWidth; ++i) {
    out[2 * i] = static_cast<std::uint16_t>(2 * padded[i + 1]);
    out[2 * i + 1] = static_cast<std::uint16_t>(padded[i + 1] + padded[i + 2]);
  }
}

CSTOOL_VECTOR_CLONES
void InterpolateRow(const std::uint8_t* padded, std::size_t chromaWidth, bool between, std::uint16_t* out) {
  if (between) {
    InterpolateBetween(padded, chromaWidth, out);
  } else {
    InterpolateCosited(padded, chromaWidth, out);
  }
}

// A plane row whose sample i sits at column 2i, read on its own (4:2:2, and
// the even rows of 4:2:0 top-left): even columns take the sample, odd ones
// the mean of their two neighbours rounded half up, which is the whole
// filter's one rounding.
CSTOOL_VECTOR_CLONES
void CositedRow(const std::uint8_t* samples, std::size_t chromaWidth, std::size_t width, std::uint8_t* out) {
  const std::size_t last = chromaWidth - 1;
  for (std::size_t i = 0; i < last; ++i) {
    out[2 * i] = samples[i];
    out[2 * i + 1] = static_cast<std::uint8_t>((samples[i] + samples[i + 1] + 1) >> 1);
  }
  // The last sample has no right neighbour but itself.
  out[2 * last] = samples[last];
  if (width % 2 == 0) out[2 * last + 1] = samples[last];
}

// Two interpolated rows weighed together, with the one rounding of the whole
// filter. Constant weights and shift keep the arithmetic in 16-bit lanes.
template <unsigned kWeightA, unsigned kWeightB, unsigned kShift>
void Blend(const std::uint16_t* a, const std::uint16_t* b, std::size_t width, std::uint8_t* out) {
  constexpr unsigned kHalf = 1U << (kShift - 1);
  for (std::size_t x = 0; x < width; ++x) {
    const auto sum = static_cast<std::uint16_t>(kWeightA * a[x] + kWeightB * b[x] + kHalf);
    out[x] = static_cast<std::uint8_t>(sum >> kShift);
  }
}

// How the two rows of a blend weigh: 3 and 1 for centre (rows times 4) and
// left (times 2) siting, half and half for the odd rows of top-left siting
// (times 2).
enum class Weights { kCentre, kLeft, kHalves };

CSTOOL_VECTOR_CLONES
void BlendRows(Weights weights, const std::uint16_t* a, const std::uint16_t* b, std::size_t width, std::uint8_t* out) {
  switch (weights) {
    case Weights::kCentre:
      Blend<3, 1, 4>(a, b, width, out);
      return;
    case Weights::kLeft:
      Blend<3, 1, 3>(a, b, width, out);
      return;
    case Weights::kHalves:
      Blend<1, 1, 2>(a, b, width, out);
      return;
  }
}

// One component of a row of pixels, with its end values repeated at out[0]
// and out[width + 1].
void PaddedComponent(const std::uint8_t* component, std::size_t width, std::uint8_t* out) {
  for (std::size_t x = 0; x < width; ++x) out[x + 1] = component[4 * x];
  out[0] = out[1];
  out[width + 1] = out[width];
}

// The sum of one component over two rows of pixels, with its end values
// repeated at out[0] and out[width + 1].
void PaddedComponentSum(const std::uint8_t* upper, const std::uint8_t* lower, std::size_t width, std::uint16_t* out) {
  for (std::size_t x = 0; x < width; ++x) out[x + 1] = static_cast<std::uint16_t>(upper[4 * x] + lower[4 * x]);
  out[0] = out[1];
  out[width + 1] = out[width];
}

// Each pair of columns of a padded row of two rows' sums.
void ReduceBetween(const std::uint16_t* padded, std::size_t chromaWidth, std::uint8_t* out) {
  for (std::size_t i = 0; i < chromaWidth; ++i) {
    const auto sum = static_cast<std::uint16_t>(padded[2 * i + 1] + padded[2 * i + 2] + 2);
    out[i] = static_cast<std::uint8_t>(sum >> 2);
  }
}

// [1 2 1] centred on each even column of the same.
void ReduceCosited(const std::uint16_t* padded, std::size_t chromaWidth, std::uint8_t* out) {
  for (std::size_t i = 0; i < chromaWidth; ++i) {
    const auto sum = static_cast<std::uint16_t>(padded[2 * i] + 2 * padded[2 * i + 1] + padded[2 * i + 2] + 4);
    out[i] = static_cast<std::uint8_t>(sum >> 3);
  }
}

// A 4:2:0 plane row from the component of two rows of pixels; sums has room
// for width + 2 values.
CSTOOL_VECTOR_CLONES
void ReducePair(const std::uint8_t* upper, const std::uint8_t* lower, std::size_t width, bool between,
                std::uint16_t* sums, std::uint8_t* out) {
  PaddedComponentSum(upper, lower, width, sums);
  const std::size_t chromaWidth = width / 2 + width % 2;
  if (between) {
    ReduceBetween(sums, chromaWidth, out);
  } else {
    ReduceCosited(sums, chromaWidth, out);
  }
}

// A 4:2:2 plane row: [1 2 1] centred on each even column; padded has room
// for width + 2 values.
CSTOOL_VECTOR_CLONES
void ReduceAlone(const std::uint8_t* component, std::size_t width, std::uint8_t* padded, std::uint8_t* out) {
  PaddedComponent(component, width, padded);
  for (std::size_t i = 0; i < width / 2 + width % 2; ++i) {
    out[i] = static_cast<std::uint8_t>((padded[2 * i] + 2 * padded[2 * i + 1] + padded[2 * i + 2] + 2) >> 2);
  }
}

CSTOOL_VECTOR_CLONES
void CopyComponent(const std::uint8_t* component, std::size_t width, std::uint8_t* out) {
  for (std::size_t x = 0; x < width; ++x) out[x] = component[4 * x];
}

}  // namespace

std::size_t ChromaWidth(std::size_t width, ChromaSampling sampling) {
  switch (sampling) {
    case ChromaSampling::k444:
      return width;
    case ChromaSampling::k422:
    case ChromaSampling::k420:
      return width / 2 + width % 2;
    case ChromaSampling::kMono:
      break;
  }
  return 0;
}

std::size_t ChromaHeight(std::size_t height, ChromaSampling sampling) {
  switch (sampling) {
    case ChromaSampling::k444:
    case ChromaSampling::k422:
      return height;
    case ChromaSampling::k420:
      return height / 2 + height % 2;
    case ChromaSampling::kMono:
      break;
  }
  return 0;
}

ChromaUpsampler::ChromaUpsampler(const std::uint8_t* plane, std::size_t planeStride, std::size_t width,
                                 std::size_t height, ChromaSampling sampling, ChromaSiting siting)
    : plane_(plane),
      planeStride_(planeStride),
      width_(width),
      chromaWidth_(ChromaWidth(width, sampling)),
      chromaHeight_(ChromaHeight(height, sampling)),
      sampling_(sampling),
      siting_(siting) {
  if (sampling == ChromaSampling::k420) {
    padded_.resize(chromaWidth_ + 2);
    for (auto& row : rows_) row.resize(2 * chromaWidth_);
  }
}

int ChromaUpsampler::SlotHolding(std::size_t j) const {
  const auto row = static_cast<std::ptrdiff_t>(j);
  if (rowHeld_[0] == row) return 0;
  if (rowHeld_[1] == row) return 1;
  return -1;
}

int ChromaUpsampler::Fetch(std::size_t j, int keepSlot) {
  const int held = SlotHolding(j);
  if (held >= 0) return held;
  // Of two slots free to take, the one with the earlier row, which rows
  // asked for in order need no more.
  const int slot = keepSlot >= 0 ? 1 - keepSlot : (rowHeld_[0] <= rowHeld_[1] ? 0 : 1);
  const std::uint8_t* source = plane_ + j * planeStride_;
  std::memcpy(padded_.data() + 1, source, chromaWidth_);
  padded_[0] = source[0];
  padded_[chromaWidth_ + 1] = source[chromaWidth_ - 1];
  InterpolateRow(padded_.data(), chromaWidth_, siting_ == ChromaSiting::kCenter, rows_[slot].data());
  rowHeld_[slot] = static_cast<std::ptrdiff_t>(j);
  return slot;
}

void ChromaUpsampler::Row(std::size_t y, std::uint8_t* out) {
  if (width_ == 0) return;
  switch (sampling_) {
    case ChromaSampling::kMono:
      std::memset(out, 128, width_);
      return;
    case ChromaSampling::k444:
      std::memcpy(out, plane_ + y * planeStride_, width_);
      return;
    case ChromaSampling::k422:
      CositedRow(plane_ + y * planeStride_, chromaWidth_, width_, out);
      return;
    case ChromaSampling::k420:
      break;
  }
  const std::size_t j = y / 2;
  const std::size_t last = chromaHeight_ - 1;
  std::size_t other = 0;
  Weights weights = Weights::kHalves;
  if (siting_ == ChromaSiting::kTopLeft) {
    // Even rows sit on plane row j, odd rows halfway to the next.
    if (y % 2 == 0) {
      CositedRow(plane_ + j * planeStride_, chromaWidth_, width_, out);
      return;
    }
    other = std::min(j + 1, last);
  } else {
    // Plane row j sits between picture rows 2j and 2j+1; each takes 3/4 of
    // it and 1/4 of the plane row on its own side.
    other = y % 2 == 0 ? (j == 0 ? 0 : j - 1) : std::min(j + 1, last);
    weights = siting_ == ChromaSiting::kCenter ? Weights::kCentre : Weights::kLeft;
  }
  const int nearSlot = Fetch(j, SlotHolding(other));
  const int otherSlot = Fetch(other, nearSlot);
  BlendRows(weights, rows_[nearSlot].data(), rows_[otherSlot].data(), width_, out);
}

bool DownsampleChroma(const std::uint8_t* pixels, std::size_t pixelStride, std::size_t width, std::size_t height,
                      std::size_t componentOffset, ChromaSampling sampling, ChromaSiting siting, std::uint8_t* plane,
                      std::size_t planeStride) {
  if (sampling == ChromaSampling::k420 && siting == ChromaSiting::kTopLeft) return false;
  if (width == 0 || height == 0 || sampling == ChromaSampling::kMono) return true;
  const std::uint8_t* component = pixels + componentOffset;
  if (sampling == ChromaSampling::k444) {
    for (std::size_t y = 0; y < height; ++y) CopyComponent(component + y * pixelStride, width, plane + y * planeStride);
    return true;
  }
  if (sampling == ChromaSampling::k422) {
    std::vector<std::uint8_t> padded(width + 2);
    for (std::size_t y = 0; y < height; ++y) {
      ReduceAlone(component + y * pixelStride, width, padded.data(), plane + y * planeStride);
    }
    return true;
  }
  std::vector<std::uint16_t> sums(width + 2);
  const bool between = siting == ChromaSiting::kCenter;
  for (std::size_t j = 0; j < ChromaHeight(height, sampling); ++j) {
    // Rows pair up, an odd last row with itself.
    const std::uint8_t* upper = component + 2 * j * pixelStride;
    const std::uint8_t* lower = component + std::min(2 * j + 1, height - 1) * pixelStride;
    ReducePair(upper, lower, width, between, sums.data(), plane + j * planeStride);
  }
  return true;
}

}  // namespace cstool

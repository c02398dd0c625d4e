#include "ColorTwist.h"

#include <algorithm>
#include <cstddef>

#include "ExactArithmetic.h"
#include "TwistKernels.h"

namespace colortwist {
namespace {

template <typename Byte>
Byte* RowAt(Byte* first, std::int32_t step, std::int32_t row) {
  return first + static_cast<std::ptrdiff_t>(row) * step;
}

bool IsValidSize(TwistSize size) { return size.width > 0 && size.height > 0; }

// The rows of one call, and the mask's (null for an unmasked call).
struct Rows {
  const std::uint8_t* src;
  std::int32_t srcStep;
  std::uint8_t* dst;
  std::int32_t dstStep;
  const std::uint8_t* mask;
  std::int32_t maskStep;
  TwistSize size;
};

// The most pixels one row-kernel call gets: below 2^31, and a multiple of
// every group size.
constexpr std::int64_t kMaxPiecePixels = std::int64_t{1} << 30;

// Calls convert(src, dst, mask, width) for every row. Rows that follow one
// another without a gap (and, with a mask, mask rows likewise) are one long
// row, cut into pieces of at most kMaxPiecePixels: a small image then costs
// one kernel call and one partial group, not one of each per row.
template <class ConvertRow>
void ForEachRow(const Rows& rows, ConvertRow convert) {
  const std::int64_t width = rows.size.width;
  const bool contiguous =
      rows.srcStep == 4 * width && rows.dstStep == 4 * width && (rows.mask == nullptr || rows.maskStep == width);
  if (contiguous) {
    const std::int64_t pixels = width * rows.size.height;
    for (std::int64_t done = 0; done < pixels; done += kMaxPiecePixels) {
      const auto piece = static_cast<std::int32_t>(std::min(pixels - done, kMaxPiecePixels));
      const auto offset = static_cast<std::ptrdiff_t>(done);
      convert(rows.src + 4 * offset, rows.dst + 4 * offset, rows.mask == nullptr ? nullptr : rows.mask + offset, piece);
    }
    return;
  }
  for (std::int32_t row = 0; row < rows.size.height; ++row) {
    convert(RowAt(rows.src, rows.srcStep, row), RowAt(rows.dst, rows.dstStep, row),
            rows.mask == nullptr ? nullptr : RowAt(rows.mask, rows.maskStep, row), rows.size.width);
  }
}

}  // namespace

int ColorTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep, TwistSize size,
               const FixedTwist& twist) {
  if (pSrc == nullptr || pDst == nullptr) return kStatusNullPointer;
  if (!IsValidSize(size)) return kStatusSizeError;
  const TwistRowFn twistRow = ActiveKernelSet().twist;
  ForEachRow({pSrc, srcStep, pDst, dstStep, nullptr, 0, size},
             [&](const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* /*mask*/, std::int32_t width) {
               twistRow(src, dst, width, twist);
             });
  return kStatusOk;
}

int ColorTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep, TwistSize size,
               const float pTwist[3][4]) {
  if (pSrc == nullptr || pDst == nullptr || pTwist == nullptr) return kStatusNullPointer;
  if (!IsValidSize(size)) return kStatusSizeError;
  const auto& twist = *reinterpret_cast<const float(*)[3][4]>(pTwist);
  if (const auto fixed = MakeFixedTwist(twist)) return ColorTwist(pSrc, srcStep, pDst, dstStep, size, *fixed);

  double wide[3][4];
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 4; ++j) wide[k][j] = twist[k][j];
  }
  ForEachRow({pSrc, srcStep, pDst, dstStep, nullptr, 0, size},
             [&](const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* /*mask*/, std::int32_t width) {
               TwistRowDouble_C(src, dst, width, wide);
             });
  return kStatusOk;
}

int ColorTwistInPlace(std::uint8_t* pData, std::int32_t step, TwistSize size, const float pTwist[3][4]) {
  return ColorTwist(pData, step, pData, step, size, pTwist);
}

int MaskedTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep,
                const std::uint8_t* pMask, std::int32_t maskStep, TwistSize size, const ExactFixedTwist& twist) {
  if (pSrc == nullptr || pDst == nullptr || pMask == nullptr) return kStatusNullPointer;
  if (!IsValidSize(size)) return kStatusSizeError;
  const MaskedTwistRowFn maskedRow = ActiveKernelSet().masked;
  ForEachRow({pSrc, srcStep, pDst, dstStep, pMask, maskStep, size},
             [&](const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width) {
               maskedRow(src, dst, mask, width, twist);
             });
  return kStatusOk;
}

int MaskedTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep,
                const std::uint8_t* pMask, std::int32_t maskStep, TwistSize size, const double pMatrix[3][4]) {
  if (pSrc == nullptr || pDst == nullptr || pMask == nullptr || pMatrix == nullptr) {
    return kStatusNullPointer;
  }
  if (!IsValidSize(size)) return kStatusSizeError;
  const auto& matrix = *reinterpret_cast<const double(*)[3][4]>(pMatrix);
  if (const auto fixed = MakeExactFixedTwist(matrix)) {
    return MaskedTwist(pSrc, srcStep, pDst, dstStep, pMask, maskStep, size, *fixed);
  }
  ForEachRow({pSrc, srcStep, pDst, dstStep, pMask, maskStep, size},
             [&](const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width) {
               MaskedTwistRowDouble_C(src, dst, mask, width, matrix);
             });
  return kStatusOk;
}

}  // namespace colortwist

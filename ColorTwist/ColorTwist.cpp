#include "ColorTwist.h"

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

}  // namespace

int ColorTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep, TwistSize size,
               const FixedTwist& twist) {
  if (pSrc == nullptr || pDst == nullptr) return kStatusNullPointer;
  if (!IsValidSize(size)) return kStatusSizeError;
  const TwistRowFn twistRow = ActiveKernelSet().twist;
  for (std::int32_t row = 0; row < size.height; ++row) {
    twistRow(RowAt(pSrc, srcStep, row), RowAt(pDst, dstStep, row), size.width, twist);
  }
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
  for (std::int32_t row = 0; row < size.height; ++row) {
    TwistRowDouble_C(RowAt(pSrc, srcStep, row), RowAt(pDst, dstStep, row), size.width, wide);
  }
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
  for (std::int32_t row = 0; row < size.height; ++row) {
    maskedRow(RowAt(pSrc, srcStep, row), RowAt(pDst, dstStep, row), RowAt(pMask, maskStep, row), size.width, twist);
  }
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
  for (std::int32_t row = 0; row < size.height; ++row) {
    MaskedTwistRowDouble_C(RowAt(pSrc, srcStep, row), RowAt(pDst, dstStep, row), RowAt(pMask, maskStep, row),
                           size.width, matrix);
  }
  return kStatusOk;
}

}  // namespace colortwist

// The exact per-pixel arithmetic shared by the single-pixel conversions and
// the masked twist.
#pragma once

#include <cstdint>

namespace colortwist {

// ((w0 * a + w1 * b) + w2 * c) + k in double: with single-precision weights
// and byte inputs every product is exact, so only the sums can round, and
// they are taken in this fixed order.
inline double EvaluateRow(const double (&row)[4], double a, double b, double c) {
  return ((row[0] * a + row[1] * b) + row[2] * c) + row[3];
}

// Truncation toward zero, then clamping to 0..255; not-a-number gives 0.
// Truncating before clamping equals clamping before truncating, so the
// comparisons below do both without an out-of-range conversion.
inline std::uint8_t TruncateToByte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<std::uint8_t>(value);
}

}  // namespace colortwist

// The few floating-point helpers the library needs, written with plain
// double arithmetic: usable at compile time, and they need no maths library
// (the Windows DLL links no C runtime).
#pragma once

namespace colortwist {

// 2^52: from here on every double is an integer.
inline constexpr double kIntegralFrom = 4503599627370496.0;

constexpr double Abs(double value) { return value < 0.0 ? -value : value; }

// Rounds to the nearest integer, ties to even. Adding and removing 2^52
// leaves no fraction bits, and IEEE addition rounds ties to even; doubles
// must not carry excess precision (SSE2, never x87). Not-a-number, infinity
// and integral magnitudes come back unchanged.
constexpr double RoundHalfEven(double value) {
  if (!(Abs(value) < kIntegralFrom)) return value;
  return value < 0.0 ? (value - kIntegralFrom) + kIntegralFrom : (value + kIntegralFrom) - kIntegralFrom;
}

constexpr double Floor(double value) {
  const double nearest = RoundHalfEven(value);
  return nearest > value ? nearest - 1.0 : nearest;
}

// value * 2^exponent for 0 <= exponent < 63: exact, or infinite on overflow.
constexpr double TimesPowerOfTwo(double value, int exponent) {
  return value * static_cast<double>(static_cast<unsigned long long>(1) << exponent);
}

}  // namespace colortwist

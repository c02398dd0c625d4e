// The class's private members, and a descriptor comparison, for every test
// program: header-only and free of the C++ runtime, so that the probe can
// use it where there is none.
#pragma once

#include <ColorSpace/ColorSpace.h>

namespace testing_support {

// Calls private members of CColorSpace. An explicit instantiation may name a
// private member, which lets the tests reach the two reserved members
// without changing the public header.
template <typename Tag, typename Tag::type Member>
struct PrivateAccess {
  friend typename Tag::type MemberOf(Tag) { return Member; }
};
struct CheckColorArgsTag {
  using type = bool (CColorSpace::*)(const tColorInterfaceImage*);
  friend type MemberOf(CheckColorArgsTag);
};
struct LinearInPlaceTag {
  using type = bool (CColorSpace::*)(tColorInterfaceImage*, const float[3][4], const float[3][4], bool);
  friend type MemberOf(LinearInPlaceTag);
};
template struct PrivateAccess<CheckColorArgsTag, &CColorSpace::CheckColorArgs>;
template struct PrivateAccess<LinearInPlaceTag, &CColorSpace::LinearInPlace>;

inline bool CheckColorArgs(CColorSpace& converter, const tColorInterfaceImage* image) {
  return (converter.*MemberOf(CheckColorArgsTag{}))(image);
}
inline bool LinearInPlace(CColorSpace& converter, tColorInterfaceImage* image, const float matrix[3][4],
                          const float twist[3][4], bool useMask) {
  return (converter.*MemberOf(LinearInPlaceTag{}))(image, matrix, twist, useMask);
}

// Field by field: the record may have padding that a byte comparison would
// read.
inline bool SameDescriptor(const tColorInterfaceImage& a, const tColorInterfaceImage& b) {
  return a.pData == b.pData && a.nWidth == b.nWidth && a.nHeight == b.nHeight && a.nStep == b.nStep &&
         a.nFormat == b.nFormat && a.pMask == b.pMask && a.nMaskStep == b.nMaskStep;
}

}  // namespace testing_support

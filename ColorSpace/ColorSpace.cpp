#include "ColorSpace.h"

#include <cstddef>

#include "ImageChecks.h"

// The class holds no state: construction, destruction and assignment have
// nothing to do, but are defined here so that they are exported.
CColorSpace::CColorSpace() = default;

CColorSpace::~CColorSpace() = default;

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): there is nothing to copy.
CColorSpace& CColorSpace::operator=(const CColorSpace& /*other*/) { return *this; }

bool CColorSpace::CheckColorArgs(const tColorInterfaceImage* pImage) { return colorspace::IsUsableImage(pImage); }

// The Windows layouts callers were built against: seven 4-byte fields on
// 32-bit Windows; on 64-bit Windows the pointers take 8 bytes and each is
// aligned to 8, which pads the record to 40.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(tColorInterfaceImage) == 28);
static_assert(offsetof(tColorInterfaceImage, pData) == 0);
static_assert(offsetof(tColorInterfaceImage, nWidth) == 4);
static_assert(offsetof(tColorInterfaceImage, nHeight) == 8);
static_assert(offsetof(tColorInterfaceImage, nStep) == 12);
static_assert(offsetof(tColorInterfaceImage, nFormat) == 16);
static_assert(offsetof(tColorInterfaceImage, pMask) == 20);
static_assert(offsetof(tColorInterfaceImage, nMaskStep) == 24);
#elif defined(_WIN64)
static_assert(sizeof(tColorInterfaceImage) == 40);
static_assert(offsetof(tColorInterfaceImage, pData) == 0);
static_assert(offsetof(tColorInterfaceImage, nWidth) == 8);
static_assert(offsetof(tColorInterfaceImage, nHeight) == 12);
static_assert(offsetof(tColorInterfaceImage, nStep) == 16);
static_assert(offsetof(tColorInterfaceImage, nFormat) == 20);
static_assert(offsetof(tColorInterfaceImage, pMask) == 24);
static_assert(offsetof(tColorInterfaceImage, nMaskStep) == 32);
#endif

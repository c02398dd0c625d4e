#include "ColorSpace.h"

#include "ImageChecks.h"

// The class holds no state: construction, destruction and assignment have
// nothing to do, but are defined here so that they are exported.
CColorSpace::CColorSpace() = default;

CColorSpace::~CColorSpace() = default;

// NOLINTNEXTLINE(bugprone-unhandled-self-assignment): there is nothing to copy.
CColorSpace& CColorSpace::operator=(const CColorSpace& /*other*/) { return *this; }

bool CColorSpace::CheckColorArgs(const tColorInterfaceImage* pImage) { return colorspace::IsUsableImage(pImage); }

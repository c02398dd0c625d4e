#include "ColorSpace.h"
#include "ColorTwist.h"
#include "ImageChecks.h"

bool CColorSpace::LinearInPlace(tColorInterfaceImage* pImage, const float pMatrix[3][4], const float pTwist[3][4],
                                bool bUseMask) {
  if (!colorspace::IsUsableImage(pImage)) return false;
  const colortwist::TwistSize size{pImage->nWidth, pImage->nHeight};
  int status = colortwist::kStatusOk;
  if (!bUseMask) {
    if (pTwist == nullptr) return false;
    status = colortwist::ColorTwistInPlace(pImage->pData, pImage->nStep, size, pTwist);
  } else {
    if (pMatrix == nullptr || !colorspace::HasUsableMask(*pImage)) return false;
    double exact[3][4];
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 4; ++col) exact[row][col] = pMatrix[row][col];
    }
    status = colortwist::MaskedTwist(pImage->pData, pImage->nStep, pImage->pData, pImage->nStep, pImage->pMask,
                                     pImage->nMaskStep, size, exact);
  }
  if (status != colortwist::kStatusOk) return false;
  pImage->nFormat = FORMAT_YUV;
  return true;
}

// ColorSpace: converts 4-byte pixels between RGB, full-range YUV and
// studio-range YCbCr, as whole images, masked images or single pixels.
//
// This header is valid C++98 and every later standard, so that old code
// bases can include it.
#ifndef COLORSPACE_COLORSPACE_H
#define COLORSPACE_COLORSPACE_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(COLORSPACE_BUILDING_LIBRARY)
#define COLORSPACE_API __declspec(dllexport)
#else
#define COLORSPACE_API __declspec(dllimport)
#endif
#else
#define COLORSPACE_API __attribute__((visibility("default")))
#endif

// Colour format codes. Any code from 1 to 4096 is a valid descriptor code;
// the ones not listed here belong to the host and are never converted from.
static const int32_t FORMAT_RGB = 32;
static const int32_t FORMAT_YUV = 128;
static const int32_t FORMAT_YCBCR = 512;

// Describes a caller-owned image of 4-byte pixels. Byte 2 of a pixel holds
// the first component (R or Y), byte 1 the second (G, U or Cb), byte 0 the
// third (B, V or Cr); byte 3 keeps its value through every image conversion.
// Row r starts at pData + r * nStep; a negative nStep means the rows lie at
// decreasing addresses, pData pointing at the first row, the highest one.
// The optional mask has one byte per pixel, rows nMaskStep bytes apart; a
// non-zero byte selects the pixel.
// The record is 28 bytes where pointers take 4 (32-bit Windows) and 40 bytes
// where they take 8 (64-bit Windows and Linux: each pointer is aligned to 8).
struct tColorInterfaceImage {
  uint8_t* pData;
  int32_t nWidth;
  int32_t nHeight;
  int32_t nStep;
  int32_t nFormat;
  uint8_t* pMask;
  int32_t nMaskStep;
};

// Stateless converter: every instance gives the same results, and any member
// may run on several threads at once as long as no two calls write the same
// pixels or descriptor.
//
// Image members return false, having written nothing, when a descriptor is
// invalid, the source format is not the conversion's source model, sizes
// differ or (with bUseMask) the source has no usable mask. On success they
// store the target format code in the image that received the pixels.
//   bUseMask == false: every pixel is converted in fixed point and saturated
//                      to 0..255. Each component is within 0.55 of the exact
//                      value of the formula, so it is one of the two nearest
//                      integers (measured on every input: at most 0.52 away,
//                      and the nearest integer for more than 99.4% of
//                      components). Any mask is ignored.
//   bUseMask == true:  only pixels whose source mask byte is non-zero are
//                      converted, exactly: the formula evaluated exactly,
//                      truncated toward zero, clamped to 0..255. The other
//                      destination pixels are not written at all, so fill
//                      the destination first if it must hold them.
// Single-pixel members use the exact arithmetic. The packed form reads bits
// 16-23, 8-15 and 0-7 as the first, second and third component and clears
// bits 24-31; the three-component form updates its arguments in place.
class COLORSPACE_API CColorSpace {
 public:
  CColorSpace();
  ~CColorSpace();
#if __cplusplus >= 201103L
  // Declared so that copying stays free of deprecation warnings where the
  // standard has the syntax; it is the same trivial copy as the implicit one
  // older standards get.
  CColorSpace(const CColorSpace& other) = default;
#endif
  CColorSpace& operator=(const CColorSpace& other);

 private:
  // Two members the class uses itself, kept private; they are part of the
  // exported surface that existing hosts were linked against.
  //
  // True when the descriptor is usable: non-null, pixels set, positive size,
  // a step (taken as unsigned) of at least four bytes per pixel, and a format
  // code from 1 to 4096. The mask fields are not looked at.
  bool CheckColorArgs(const tColorInterfaceImage* pImage);

  // Applies a 3x4 matrix to the image in place, given in component order
  // (for the masked path) and in memory order (for the unmasked path); each
  // row is three weights and a constant. The format code becomes FORMAT_YUV
  // on success, whatever the matrix. Results outside 0..255 are clamped on
  // both paths (masked: truncated toward zero first; a sum that is not a
  // number gives 0). Only the chosen path's matrix is read, so the other may
  // be null. Returns false, writing nothing, for a descriptor that fails
  // CheckColorArgs, a null pTwist without bUseMask, or, with bUseMask, a
  // null pMatrix or a missing or short mask (nMaskStep below nWidth).
  bool LinearInPlace(tColorInterfaceImage* pImage, const float pMatrix[3][4], const float pTwist[3][4], bool bUseMask);

 public:
  void RGBtoYCbCr(uint8_t& a, uint8_t& b, uint8_t& c);
  void RGBtoYCbCr(uint32_t& nPixel);
  bool RGBtoYCbCr(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask);
  bool RGBtoYCbCr(tColorInterfaceImage* pImage, bool bUseMask);

  void RGBtoYUV(uint8_t& a, uint8_t& b, uint8_t& c);
  void RGBtoYUV(uint32_t& nPixel);
  bool RGBtoYUV(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask);
  bool RGBtoYUV(tColorInterfaceImage* pImage, bool bUseMask);

  void YCbCrtoRGB(uint8_t& a, uint8_t& b, uint8_t& c);
  void YCbCrtoRGB(uint32_t& nPixel);
  bool YCbCrtoRGB(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask);
  bool YCbCrtoRGB(tColorInterfaceImage* pImage, bool bUseMask);

  void YUVtoRGB(uint8_t& a, uint8_t& b, uint8_t& c);
  void YUVtoRGB(uint32_t& nPixel);
  bool YUVtoRGB(const tColorInterfaceImage* pSrc, tColorInterfaceImage* pDst, bool bUseMask);
  bool YUVtoRGB(tColorInterfaceImage* pImage, bool bUseMask);
};

#endif  // COLORSPACE_COLORSPACE_H

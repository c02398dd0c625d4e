/* A host of the old school: includes the public header under any C++
   standard from C++98 on, with every warning an error, and uses it. */
#include <ColorSpace/ColorSpace.h>
#include <stddef.h>
#include <stdio.h>

static int failures = 0;

static void Expect(bool condition, const char* what) {
  if (!condition) {
    printf("FAILED: %s\n", what);
    ++failures;
  }
}

int main() {
  CColorSpace converter;
  CColorSpace copy(converter);
  copy = converter;

  uint32_t pixel = 0xFFFFFFFFu;
  converter.RGBtoYUV(pixel);
  Expect(pixel == 0x00FF807Fu, "packed RGBtoYUV of white");

  uint8_t a = 255, b = 0, c = 0;
  copy.RGBtoYCbCr(a, b, c);
  Expect(a == 81 && b == 90 && c == 239, "three-component RGBtoYCbCr of red");

  uint8_t pixels[8] = {0, 0, 255, 7, 0, 0, 255, 7};
  uint8_t mask[2] = {1, 0};
  tColorInterfaceImage image = {pixels, 2, 1, 8, FORMAT_RGB, mask, 2};
  Expect(converter.RGBtoYCbCr(&image, true), "masked in-place conversion");
  Expect(image.nFormat == FORMAT_YCBCR, "format code");
  Expect(pixels[0] == 239 && pixels[1] == 90 && pixels[2] == 81 && pixels[3] == 7, "selected pixel");
  Expect(pixels[4] == 0 && pixels[5] == 0 && pixels[6] == 255 && pixels[7] == 7, "unselected pixel");

  tColorInterfaceImage bad = image;
  bad.nWidth = 0;
  Expect(!converter.YCbCrtoRGB(&bad, false), "invalid descriptor refused");

  Expect(sizeof(tColorInterfaceImage) == (sizeof(void*) == 4 ? 28u : 40u), "record size");
  Expect(offsetof(tColorInterfaceImage, nMaskStep) == (sizeof(void*) == 4 ? 24u : 32u), "record layout");
  Expect(sizeof(FORMAT_RGB) == 4 && FORMAT_YUV == 128, "format codes");
  return failures == 0 ? 0 : 1;
}

// Converts a few colours to YUV and YCbCr and back, and prints them.
#include <ColorSpace/ColorSpace.h>

#include <cstdint>
#include <cstdio>

int main() {
  CColorSpace converter;
  const std::uint32_t colours[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080};
  std::printf("RGB      YUV      back     YCbCr    back\n");
  for (std::uint32_t rgb : colours) {
    std::uint32_t yuv = rgb;
    converter.RGBtoYUV(yuv);
    std::uint32_t fromYuv = yuv;
    converter.YUVtoRGB(fromYuv);
    std::uint32_t ycbcr = rgb;
    converter.RGBtoYCbCr(ycbcr);
    std::uint32_t fromYcbcr = ycbcr;
    converter.YCbCrtoRGB(fromYcbcr);
    std::printf("%06X   %06X   %06X   %06X   %06X\n", static_cast<unsigned>(rgb), static_cast<unsigned>(yuv),
                static_cast<unsigned>(fromYuv), static_cast<unsigned>(ycbcr), static_cast<unsigned>(fromYcbcr));
  }
  return 0;
}

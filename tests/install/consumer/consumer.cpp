// A program built against an installed ColorSpace.
#include <ColorSpace/ColorSpace.h>

#include <cstdint>
#include <cstdio>

int main() {
  CColorSpace converter;
  std::uint32_t pixel = 0x00FFFFFF;
  converter.RGBtoYUV(pixel);
  std::uint8_t data[8] = {0, 0, 255, 7, 0, 0, 255, 7};  // two red pixels
  tColorInterfaceImage image{data, 2, 1, 8, FORMAT_RGB, nullptr, 0};
  const bool converted = converter.RGBtoYCbCr(&image, false);
  std::printf("%08X %d %u %u %u\n", static_cast<unsigned>(pixel), converted ? 1 : 0, data[2], data[1], data[0]);
  return pixel == 0x00FF807F && converted && image.nFormat == FORMAT_YCBCR && data[3] == 7 ? 0 : 1;
}

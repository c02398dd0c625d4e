// Converts one pixel, then a small image whole and through a mask.
#include <ColorSpace/ColorSpace.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  CColorSpace converter;

  // One pixel, packed as 0x00RRGGBB.
  std::uint32_t pixel = 0x00FF0000;  // red
  converter.RGBtoYUV(pixel);         // 0x004C55FF: Y 76, U 85, V 255
  std::printf("red in YUV: %06X\n", static_cast<unsigned>(pixel));

  // A 4x2 image: rows of B, G, R, A bytes, 16 bytes apart.
  const std::int32_t width = 4;
  const std::int32_t height = 2;
  const std::size_t pixelCount = static_cast<std::size_t>(width) * height;
  std::vector<std::uint8_t> pixels(4 * pixelCount, 200);
  tColorInterfaceImage image = {pixels.data(), width, height, 4 * width, FORMAT_RGB, nullptr, 0};
  if (converter.RGBtoYCbCr(&image, /*bUseMask=*/false)) {
    std::printf("converted, format code now %d\n", static_cast<int>(image.nFormat));  // FORMAT_YCBCR
  }

  // Only the selected pixels, exactly, into another image of the same size.
  // The destination needs a valid format code (1 to 4096); its unselected
  // pixels are not written, so it starts as a copy of the source here.
  std::vector<std::uint8_t> mask(pixelCount, 0);
  mask[0] = 1;  // the first pixel of the first row
  image.pMask = mask.data();
  image.nMaskStep = width;
  std::vector<std::uint8_t> output = pixels;
  tColorInterfaceImage destination = {output.data(), width, height, 4 * width, FORMAT_YCBCR, nullptr, 0};
  if (!converter.YCbCrtoRGB(&image, &destination, /*bUseMask=*/true)) return 1;
  std::printf("first pixel back in RGB: %u %u %u\n", output[2], output[1], output[0]);
  return 0;
}

// JPEG input through libjpeg-turbo's TurboJPEG interface.
#include <turbojpeg.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ImageFile.h"

namespace cstool {

ReadResult ReadJpeg(std::FILE* file, const std::string& path, std::uint64_t maxPixels, Picture& picture) {
  ReadResult result;
  std::vector<unsigned char> bytes;
  unsigned char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  if (std::ferror(file) != 0) {
    result.error = "cannot read " + path + ": " + std::strerror(errno);
    return result;
  }
  tjhandle decoder = tjInitDecompress();
  if (decoder == nullptr) {
    result.error = path + ": cannot start the JPEG decoder";
    return result;
  }
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourspace = 0;
  const unsigned long size = bytes.size();
  if (tjDecompressHeader3(decoder, bytes.data(), size, &width, &height, &subsampling, &colourspace) != 0) {
    result.error = path + ": unreadable JPEG (" + tjGetErrorStr2(decoder) + ")";
  } else if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
    result.error = path + " is a CMYK JPEG; only colour (RGB) and grey JPEG files are read";
  } else if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > maxPixels) {
    result.error = path + ": " + std::to_string(width) + "x" + std::to_string(height) + " is " +
                   std::to_string(static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height)) +
                   " pixels, above the limit of " + std::to_string(maxPixels) + " (--max-pixels)";
  } else {
    picture.width = width;
    picture.height = height;
    picture.hasAlpha = false;
    picture.bgra.resize(picture.Pixels() * 4);
    // Grey files come out as grey RGB; alpha is set to 255.
    if (tjDecompress2(decoder, bytes.data(), size, picture.bgra.data(), width, 4 * width, height, TJPF_BGRA, 0) != 0 &&
        tjGetErrorCode(decoder) == TJERR_FATAL) {
      result.error = path + ": unreadable JPEG (" + tjGetErrorStr2(decoder) + ")";
      picture = Picture{};
    } else {
      result.ok = true;
    }
  }
  tjDestroy(decoder);
  return result;
}

}  // namespace cstool

#include "ImageFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace cstool {
namespace {

class File {
 public:
  explicit File(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (file_ != nullptr) std::fclose(file_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr unsigned char kJpegSignature[3] = {0xFF, 0xD8, 0xFF};

}  // namespace

ReadResult ReadImage(const std::string& path, std::uint64_t maxPixels, Picture& picture) {
  ReadResult result;
  File file(path);
  if (file.get() == nullptr) {
    result.error = "cannot open " + path + ": " + std::strerror(errno);
    return result;
  }
  struct stat status {};
  if (::fstat(::fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode)) {
    result.error = path + " is a directory";
    return result;
  }
  unsigned char signature[8] = {};
  const std::size_t got = std::fread(signature, 1, sizeof signature, file.get());
  std::rewind(file.get());
  if (got == sizeof signature && std::memcmp(signature, kPngSignature, sizeof kPngSignature) == 0) {
    return ReadPng(file.get(), path, maxPixels, picture);
  }
  if (got >= sizeof kJpegSignature && std::memcmp(signature, kJpegSignature, sizeof kJpegSignature) == 0) {
    return ReadJpeg(file.get(), path, maxPixels, picture);
  }
  result.error = path + " is neither a PNG nor a JPEG file";
  return result;
}

}  // namespace cstool

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "ImageFile.h"
#include "OutputFile.h"

namespace cstool {
namespace {

template <typename Encode>
std::string WriteThrough(const std::string& path, Encode encode) {
  std::string error;
  auto output = OutputFile::Open(path, error);
  if (!output) return error;
  errno = 0;
  error = encode(output->Stream());
  if (!error.empty()) {
    // A failed write says more than the encoder's own message.
    const int writeError = std::ferror(output->Stream()) != 0 ? errno : 0;
    return "cannot write " + path + ": " + (writeError != 0 ? std::strerror(writeError) : error);
  }
  return output->Commit();
}

}  // namespace

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "colorspace: %s\n", message.c_str());
  return status;
}

std::string ReadPicture(const std::string& path, std::uint64_t maxPixels, Picture& picture, Progress& progress) {
  const ReadResult result = ReadImage(path, maxPixels, picture);
  if (!result.ok) return result.error;
  if (!result.note.empty()) progress.Note(result.note);
  return {};
}

std::string WritePicture(const std::string& path, const Picture& picture, Compression compression) {
  return WriteThrough(path, [&](std::FILE* stream) { return WritePng(stream, picture, compression); });
}

std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, Compression compression) {
  return WriteThrough(path, [&](std::FILE* stream) { return WriteGreyPng(stream, picture, compression); });
}

}  // namespace cstool

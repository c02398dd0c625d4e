// Times the stages of one colorspace conversion of a file: decode, convert,
// encode (with the default PNG compression), the way the tool runs them.
#include <chrono>
#include <cstdio>
#include <string>

#include "commands/Commands.h"
#include "formats/Formats.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: colorspace-stages INPUT OUTPUT.png\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
  };
  cstool::Picture picture;
  const auto start = Clock::now();
  const cstool::ReadResult read = cstool::ReadImage(argv[1], cstool::kDefaultMaxPixels, picture);
  if (!read.Ok()) {
    std::fprintf(stderr, "%s\n", read.error.c_str());
    return 1;
  }
  const auto decoded = Clock::now();
  std::string error = cstool::ConvertPixels(picture, cstool::Model::kRGB, cstool::Model::kYCbCr, nullptr, false);
  picture.record.model = cstool::Model::kYCbCr;
  const auto converted = Clock::now();
  cstool::Progress progress(1);
  if (error.empty()) error = cstool::WritePicture(argv[2], picture, cstool::WriteSettings{}, progress);
  const auto encoded = Clock::now();
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("decode %.2f s, convert %.3f s, encode and write %.2f s (%dx%d)\n", seconds(start, decoded),
              seconds(decoded, converted), seconds(converted, encoded), picture.width, picture.height);
  return 0;
}

// Reading and writing 8-bit BGRA PNG files, with the colour model kept in a
// text chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cstool {

struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> bgra;  // 4 bytes a pixel: B, G, R, A (or V/Cr, U/Cb, Y, A)
  std::string model;               // "rgb", "yuv", "ycbcr", or empty when not recorded
};

struct ReadResult {
  bool ok = false;
  std::string error;  // one line, when !ok
  std::string note;   // one line, when the file needed a lossy change (16-bit samples)
};

// Any PNG: palette and grey images are expanded, missing alpha becomes 255,
// 16-bit samples are reduced to their high 8 bits.
ReadResult ReadPng(const std::string& path, Picture& picture);

// Writes to a temporary file beside path, then renames it into place, so an
// existing file is replaced whole or not at all. Returns an empty string on
// success, else the reason.
std::string WritePng(const std::string& path, const Picture& picture);

// A grey 8-bit picture for writing: one byte per pixel.
struct GreyPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> grey;
};
std::string WriteGreyPng(const std::string& path, const GreyPicture& picture);

}  // namespace cstool

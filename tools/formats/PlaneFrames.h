// Frames stored as planes (YUV4MPEG2 and raw planes): a luma plane, then
// the two colour-difference planes, sampled and laid out as a PlaneLayout
// says, turned into the tool's 4-byte pixels and back. In memory the third
// byte of a pixel holds Y, the second U (Cb) and the first V (Cr).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/Format.h"

namespace cstool {

class InputFile;

// The bytes one frame's planes take.
std::uint64_t PlaneFrameBytes(std::uint64_t width, std::uint64_t height, const PlaneLayout& layout);

// Reads frames of planes from an input, bringing the chroma to every
// pixel (see ChromaSampling.h).
class PlaneFrameReader {
 public:
  PlaneFrameReader(std::uint32_t width, std::uint32_t height, const PlaneLayout& layout);
  // The memory the reader holds besides the picture: its planes.
  std::uint64_t BufferBytes() const;
  // Reads one frame's planes. Returns the bytes read: all of them, or
  // fewer when the input ends (0 at its very end) or fails.
  std::uint64_t ReadPlanes(InputFile& input);
  // The frame read last into `picture` (width, height, pixels, alpha 255).
  void ToPicture(Picture& picture);

 private:
  std::uint32_t width_;
  std::uint32_t height_;
  PlaneLayout layout_;
  std::size_t chromaWidth_;
  std::size_t chromaHeight_;
  std::vector<std::uint8_t> luma_;
  std::vector<std::uint8_t> blue_;         // U (Cb)
  std::vector<std::uint8_t> red_;          // V (Cr)
  std::vector<std::uint8_t> interleaved_;  // NV12's UV plane, as read
};

// The one size of a stream's frames: the first frame's.
class StreamSize {
 public:
  // Why `frame` cannot join the stream, or nothing.
  std::string Check(const Picture& frame);

 private:
  bool known_ = false;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

// Writes one frame's planes for `picture` as `layout` says; the chroma
// planes it makes are taken from `memory` while they are held. Returns an
// error text, or nothing.
std::string WritePlaneFrame(std::FILE* stream, const Picture& picture, const PlaneLayout& layout,
                            MemoryBudget::Account* memory);

}  // namespace cstool

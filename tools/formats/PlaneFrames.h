// Frames stored as planes (YUV4MPEG2 and raw planes): a luma plane, then
// the two colour-difference planes, sampled and laid out as a PlaneLayout
// says, turned into the tool's 4-byte pixels and back. In memory the third
// byte of a pixel holds Y, the second U (Cb) and the first V (Cr).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "formats/ChromaSampling.h"
#include "formats/Format.h"

namespace cstool {

class InputFile;

// How a frame's chroma planes are laid out: sampled how, sited where (for
// 4:2:0), and for 4:2:0 whether U and V are interleaved in one plane (NV12)
// rather than one after the other.
struct PlaneLayout {
  ChromaSampling sampling = ChromaSampling::k444;
  ChromaSiting siting = ChromaSiting::kCenter;
  bool interleaved = false;
};
PlaneLayout LayoutOf(SamplingChoice choice, ChromaSiting siting);
// The layout --sampling and --chroma-siting ask a stream written for.
PlaneLayout WrittenLayout(const GivenOptions& given);

// Reads frames stored as planes from an input, one at a time, bringing the
// chroma to every pixel (see ChromaSampling.h).
class PlaneFrameReader {
 public:
  // `options` must outlive the reader.
  PlaneFrameReader(InputFile& input, const ReadOptions& options, std::uint32_t width, std::uint32_t height,
                   const PlaneLayout& layout);
  // The bytes one frame's planes take.
  std::uint64_t FrameBytes() const;
  // The frames read, the last one perhaps cut short.
  std::uint64_t Frames() const { return frames_; }
  // Reads the next frame into `picture` (alpha 255), recorded as `model`
  // (none: the options must give it); the first frame's memory is taken
  // before it is read (see AdmitPicture). False with result.error set when
  // a frame is cut short or cannot be read; false without, where `mayEnd`,
  // when the input ends before the frame's first byte.
  bool Next(Picture& picture, ReadResult& result, std::optional<Model> model, bool mayEnd);

 private:
  // The memory the reader holds besides the picture: its planes.
  std::uint64_t BufferBytes() const;
  // Reads one frame's planes. Returns the bytes read: all of them, or
  // fewer when the input ends (0 at its very end) or fails.
  std::uint64_t ReadPlanes();
  void ToPicture(Picture& picture);

  InputFile& input_;
  const ReadOptions& options_;
  std::uint32_t width_;
  std::uint32_t height_;
  PlaneLayout layout_;
  std::size_t chromaWidth_;
  std::size_t chromaHeight_;
  std::uint64_t frames_ = 0;
  std::vector<std::uint8_t> luma_;
  std::vector<std::uint8_t> blue_;         // U (Cb)
  std::vector<std::uint8_t> red_;          // V (Cr)
  std::vector<std::uint8_t> interleaved_;  // NV12's UV plane, as read
};

// Writes frames as planes, laid out as WrittenLayout says, all of the first
// frame's size; the chroma planes it makes are taken from the writer's
// memory while they are held. A format puts what goes before a frame's
// planes in Before.
class PlaneFrameWriter : public FrameWriter {
 public:
  explicit PlaneFrameWriter(std::FILE* stream) : stream_(stream) {}
  std::string Write(const Picture& frame, const WriteContext& context) final;

 protected:
  // What goes before the frame's planes: an error text, or nothing.
  virtual std::string Before(const Picture& /*frame*/, const WriteContext& /*context*/, const PlaneLayout& /*layout*/) {
    return {};
  }

  std::FILE* stream_;
  std::uint64_t frames_ = 0;  // written before this one

 private:
  std::string WritePlanes(const Picture& picture, const PlaneLayout& layout, MemoryBudget::Account* memory);

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
};

}  // namespace cstool

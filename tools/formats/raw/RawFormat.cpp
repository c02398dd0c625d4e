// Raw planes (.yuv), as codec test suites keep frames: Y, then U (Cb), then
// V (Cr) for each frame, or Y then U and V interleaved (NV12), with no
// header: the size, sampling and model come from the options.
#include <string>

#include "formats/Formats.h"
#include "formats/PlaneFrames.h"
#include "shared/InputFile.h"

namespace cstool {
namespace {

class RawFrames : public FrameReader {
 public:
  RawFrames(InputFile& input, const ReadOptions& options) : input_(input), options_(options) {}

  std::string Open() {
    const std::string& path = input_.Path();
    if (!options_.inputSize || !options_.inputSampling || !options_.modelGiven) {
      return path +
             " is read as raw planes, which say nothing of themselves: give --input-size WxH, --input-sampling "
             "444|422|420|nv12 and --from yuv|ycbcr";
    }
    width_ = options_.inputSize->first;
    height_ = options_.inputSize->second;
    info_.layout = LayoutOf(*options_.inputSampling, options_.siting);
    const std::string refusal = CheckPixelLimit(path, width_, height_, options_.maxPixels);
    if (!refusal.empty()) return refusal;
    frameBytes_ = PlaneFrameBytes(width_, height_, info_.layout);
    if (const auto left = input_.RemainingBytes()) {
      if (*left % frameBytes_ != 0) {
        return path + " is " + std::to_string(*left) + " bytes, not a whole number of " + std::to_string(width_) + "x" +
               std::to_string(height_) + " " + SamplingName(*options_.inputSampling) + " frames of " +
               std::to_string(frameBytes_) + " bytes";
      }
      info_.frames = *left / frameBytes_;
    }
    planes_.emplace(width_, height_, info_.layout);
    return {};
  }

  bool MoreFrames() override {
    char next = 0;
    return input_.Peek(&next, 1) == 1;
  }

  bool Next(Picture& picture, ReadResult& result) override {
    const std::string& path = input_.Path();
    if (frame_ == 0) {
      result.error = AdmitPicture(options_, path, width_, height_, planes_->BufferBytes());
      if (!result.error.empty()) return false;
    }
    const std::uint64_t got = planes_->ReadPlanes(input_);
    if (got == 0 && !input_.Failed()) {
      if (frame_ == 0) result.error = path + " holds no frame";
      return false;
    }
    ++frame_;
    if (got < frameBytes_) {
      result.error = input_.Failed() ? "cannot read " + path + ": " + input_.Reason()
                                     : path + ": frame " + std::to_string(frame_) + " is cut short";
      return false;
    }
    planes_->ToPicture(picture);
    picture.record = ModelRecord{};
    picture.needsModel = true;  // --from says which
    picture.lossy = false;
    picture.metadata = Metadata{};
    return true;
  }

 private:
  InputFile& input_;
  ReadOptions options_;
  std::uint64_t frameBytes_ = 0;
  std::optional<PlaneFrameReader> planes_;
  std::uint64_t frame_ = 0;
};

class RawWriter : public FrameWriter {
 public:
  explicit RawWriter(std::FILE* stream) : stream_(stream) {}
  std::string Write(const Picture& frame, const WriteContext& context) override {
    const std::string error = size_.Check(frame);
    return error.empty() ? WritePlaneFrame(stream_, frame, context.settings.layout, context.memory) : error;
  }

 private:
  std::FILE* stream_;
  StreamSize size_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenRawReader(InputFile& input, const ReadOptions& options, ReadResult& result) {
  auto frames = std::make_unique<RawFrames>(input, options);
  result.error = frames->Open();
  if (!result.error.empty()) return nullptr;
  return frames;
}

std::unique_ptr<FrameWriter> OpenRawWriter(std::FILE* stream) { return std::make_unique<RawWriter>(stream); }

}  // namespace cstool

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
  using FrameReader::FrameReader;

  std::string Open(ReadResult& /*result*/) {
    const std::string& path = input_.Path();
    const auto size = options_.given.Get<std::pair<std::uint32_t, std::uint32_t>>("--input-size");
    const auto sampling = options_.given.Get<SamplingChoice>("--input-sampling");
    if (!size || !sampling || !options_.modelGiven) {
      return path +
             " is read as raw planes, which say nothing of themselves: give --input-size WxH, --input-sampling " +
             JoinWords(NamesOf(kSamplingNames), "|", "|") + " and --from yuv|ycbcr";
    }
    width_ = size->first;
    height_ = size->second;
    const std::string refusal = CheckPixelLimit(path, width_, height_, options_.maxPixels);
    if (!refusal.empty()) return refusal;
    const ChromaSiting siting = options_.given.Get<ChromaSiting>("--chroma-siting").value_or(ChromaSiting::kCenter);
    planes_.emplace(input_, options_, width_, height_, LayoutOf(*sampling, siting));
    const std::uint64_t frameBytes = planes_->FrameBytes();
    if (const auto left = input_.RemainingBytes()) {
      if (*left % frameBytes != 0) {
        return path + " is " + std::to_string(*left) + " bytes, not a whole number of " + std::to_string(width_) + "x" +
               std::to_string(height_) + " " + SamplingName(*sampling) + " frames of " + std::to_string(frameBytes) +
               " bytes";
      }
      info_.frames = *left / frameBytes;
    }
    return {};
  }

  bool MoreFrames() override {
    char next = 0;
    return input_.Peek(&next, 1) == 1;
  }

  bool Next(Picture& picture, ReadResult& result) override {
    return planes_->Next(picture, result, std::nullopt, true);  // --from gives the model
  }

 private:
  std::optional<PlaneFrameReader> planes_;
};

}  // namespace

extern constinit const Format kRawFormat{
    .name = "raw",
    .title = "raw .yuv",
    .suffixes = ".yuv",
    .help =
        "yuv or ycbcr frames as bare planes, Y then U then V (or UV interleaved, --sampling nv12), with no header: "
        "reading needs --input-size, --input-sampling and --from",
    .readWhenGiven = "--input-size",
    .openReader = OpenReader<RawFrames>,
    .openWriter = NewWriter<PlaneFrameWriter>,
    .models = kHoldsYuv | kHoldsYCbCr,
    .modelsWhy = "its frames hold luma and colour-difference planes",
    .manyFrames = true,
    .samplings = SamplingFlag(SamplingChoice::k444) | SamplingFlag(SamplingChoice::k422) |
                 SamplingFlag(SamplingChoice::k420) | SamplingFlag(SamplingChoice::kNv12),
    .writeOptions = "--sampling --chroma-siting",
    .readOptions = "--input-size --input-sampling --chroma-siting",
};

}  // namespace cstool

#include "formats/PlaneFrames.h"

#include <cstring>

#include "formats/Formats.h"
#include "shared/InputFile.h"

namespace cstool {
namespace {

// Where each component sits in a 4-byte pixel.
constexpr std::size_t kLumaByte = 2;
constexpr std::size_t kBlueByte = 1;  // U, Cb
constexpr std::size_t kRedByte = 0;   // V, Cr
constexpr std::uint8_t kNoChroma = 128;

// One row of a picture from its three components' rows, built a pixel
// word at a time so that the compiler vectorises it (bytes 0 to 3 of a
// pixel are its word's lowest to highest, on every target the tool builds
// for).
void Interleave(const std::uint8_t* luma, const std::uint8_t* blue, const std::uint8_t* red, std::size_t width,
                std::uint8_t* out) {
  static_assert(kRedByte == 0 && kBlueByte == 1 && kLumaByte == 2);
  for (std::size_t x = 0; x < width; ++x) {
    const std::uint32_t pixel =
        std::uint32_t{red[x]} | (std::uint32_t{blue[x]} << 8) | (std::uint32_t{luma[x]} << 16) | 0xFF000000U;
    std::memcpy(out + 4 * x, &pixel, 4);
  }
}

// One component of a row of pixels; the offset a constant, so that the
// loop vectorises.
template <std::size_t kOffset>
void ComponentAt(const std::uint8_t* pixels, std::size_t width, std::uint8_t* out) {
  for (std::size_t x = 0; x < width; ++x) out[x] = pixels[4 * x + kOffset];
}
void Component(const std::uint8_t* pixels, std::size_t width, std::size_t offset, std::uint8_t* out) {
  if (offset == kLumaByte) {
    ComponentAt<kLumaByte>(pixels, width, out);
  } else if (offset == kBlueByte) {
    ComponentAt<kBlueByte>(pixels, width, out);
  } else {
    ComponentAt<kRedByte>(pixels, width, out);
  }
}

std::uint64_t Read(InputFile& input, std::vector<std::uint8_t>& into) { return input.Read(into.data(), into.size()); }

}  // namespace

PlaneLayout LayoutOf(SamplingChoice choice, ChromaSiting siting) {
  switch (choice) {
    case SamplingChoice::k422:
      return {ChromaSampling::k422, ChromaSiting::kLeft, false};
    case SamplingChoice::k420:
      return {ChromaSampling::k420, siting, false};
    case SamplingChoice::kNv12:
      return {ChromaSampling::k420, siting, true};
    default:
      return {ChromaSampling::k444, ChromaSiting::kCenter, false};
  }
}

PlaneLayout WrittenLayout(const GivenOptions& given) {
  return LayoutOf(given.Get<SamplingChoice>("--sampling").value_or(SamplingChoice::k444),
                  given.Get<ChromaSiting>("--chroma-siting").value_or(ChromaSiting::kCenter));
}

PlaneFrameReader::PlaneFrameReader(InputFile& input, const ReadOptions& options, std::uint32_t width,
                                   std::uint32_t height, const PlaneLayout& layout)
    : input_(input),
      options_(options),
      width_(width),
      height_(height),
      layout_(layout),
      chromaWidth_(ChromaWidth(width, layout.sampling)),
      chromaHeight_(ChromaHeight(height, layout.sampling)) {}

std::uint64_t PlaneFrameReader::FrameBytes() const {
  return std::uint64_t{width_} * height_ + 2 * std::uint64_t{chromaWidth_} * chromaHeight_;
}

std::uint64_t PlaneFrameReader::BufferBytes() const {
  const std::uint64_t chroma = std::uint64_t{chromaWidth_} * chromaHeight_;
  return std::uint64_t{width_} * height_ + (layout_.interleaved ? 4 : 2) * chroma + 16 * std::uint64_t{width_};
}

bool PlaneFrameReader::Next(Picture& picture, ReadResult& result, std::optional<Model> model, bool mayEnd) {
  const std::string& path = input_.Path();
  if (frames_ == 0) {
    result.error = AdmitPicture(options_, path, width_, height_, BufferBytes());
    if (!result.error.empty()) return false;
  }
  const std::uint64_t got = ReadPlanes();
  if (mayEnd && got == 0 && !input_.Failed()) {
    if (frames_ == 0) result.error = path + " holds no frame";
    return false;
  }
  ++frames_;
  if (got < FrameBytes()) {
    result.error = input_.Failed() ? "cannot read " + path + ": " + input_.Reason()
                                   : path + ": frame " + std::to_string(frames_) + " is cut short";
    return false;
  }
  ToPicture(picture);
  picture.record = ModelRecord{};
  picture.record.model = model;
  picture.needsModel = !model;
  picture.lossy = false;
  picture.metadata = Metadata{};
  return true;
}

std::uint64_t PlaneFrameReader::ReadPlanes() {
  const std::size_t chroma = chromaWidth_ * chromaHeight_;
  luma_.resize(std::size_t{width_} * height_);
  std::uint64_t got = Read(input_, luma_);
  if (got < luma_.size() || chroma == 0) return got;
  blue_.resize(chroma);
  red_.resize(chroma);
  if (layout_.interleaved) {
    interleaved_.resize(2 * chroma);
    const std::uint64_t pairs = Read(input_, interleaved_);
    got += pairs;
    if (pairs < interleaved_.size()) return got;
    for (std::size_t i = 0; i < chroma; ++i) {
      blue_[i] = interleaved_[2 * i];
      red_[i] = interleaved_[2 * i + 1];
    }
    return got;
  }
  const std::uint64_t blue = Read(input_, blue_);
  got += blue;
  if (blue < blue_.size()) return got;
  return got + Read(input_, red_);
}

void PlaneFrameReader::ToPicture(Picture& picture) {
  picture.width = static_cast<std::int32_t>(width_);
  picture.height = static_cast<std::int32_t>(height_);
  picture.hasAlpha = false;
  picture.bgra.resize(std::size_t{4} * width_ * height_);
  std::vector<std::uint8_t> blueRow(width_, kNoChroma);
  std::vector<std::uint8_t> redRow(width_, kNoChroma);
  const bool mono = layout_.sampling == ChromaSampling::kMono;
  ChromaUpsampler blue(mono ? nullptr : blue_.data(), chromaWidth_, width_, height_, layout_.sampling, layout_.siting);
  ChromaUpsampler red(mono ? nullptr : red_.data(), chromaWidth_, width_, height_, layout_.sampling, layout_.siting);
  for (std::size_t y = 0; y < height_; ++y) {
    blue.Row(y, blueRow.data());
    red.Row(y, redRow.data());
    Interleave(luma_.data() + y * width_, blueRow.data(), redRow.data(), width_, picture.bgra.data() + 4 * y * width_);
  }
}

std::string PlaneFrameWriter::Write(const Picture& frame, const WriteContext& context) {
  if (frames_ == 0) {
    width_ = frame.width;
    height_ = frame.height;
  } else if (frame.width != width_ || frame.height != height_) {
    return "a frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height) + " among frames of " +
           std::to_string(width_) + "x" + std::to_string(height_) + ": a stream's frames have one size";
  }
  const PlaneLayout layout = WrittenLayout(context.settings.given);
  std::string error = Before(frame, context, layout);
  if (error.empty()) error = WritePlanes(frame, layout, context.memory);
  ++frames_;
  return error;
}

std::string PlaneFrameWriter::WritePlanes(const Picture& picture, const PlaneLayout& layout,
                                          MemoryBudget::Account* memory) {
  const auto width = static_cast<std::size_t>(picture.width);
  const auto height = static_cast<std::size_t>(picture.height);
  const std::size_t chromaWidth = ChromaWidth(width, layout.sampling);
  const std::size_t chromaHeight = ChromaHeight(height, layout.sampling);
  const bool full = layout.sampling == ChromaSampling::k444;
  // The chroma planes a reduced sampling makes, and a row buffer.
  const std::uint64_t bytes = (full ? 0 : 2 * std::uint64_t{chromaWidth} * chromaHeight) + 2 * std::uint64_t{width};
  MemoryBudget::Account::Reservation held(memory);
  if (!held.Grow(bytes)) return memory->Refusal();
  std::vector<std::uint8_t> row(width);
  auto put = [&](const std::uint8_t* data, std::size_t size) { return std::fwrite(data, 1, size, stream_) == size; };
  for (std::size_t y = 0; y < height; ++y) {
    Component(picture.bgra.data() + 4 * y * width, width, kLumaByte, row.data());
    if (!put(row.data(), width)) return "write failed";
  }
  if (full) {
    for (const std::size_t offset : {kBlueByte, kRedByte}) {
      for (std::size_t y = 0; y < height; ++y) {
        Component(picture.bgra.data() + 4 * y * width, width, offset, row.data());
        if (!put(row.data(), width)) return "write failed";
      }
    }
    return {};
  }
  std::vector<std::uint8_t> blue(chromaWidth * chromaHeight);
  std::vector<std::uint8_t> red(chromaWidth * chromaHeight);
  if (!DownsampleChroma(picture.bgra.data(), 4 * width, width, height, kBlueByte, layout.sampling, layout.siting,
                        blue.data(), chromaWidth) ||
      !DownsampleChroma(picture.bgra.data(), 4 * width, width, height, kRedByte, layout.sampling, layout.siting,
                        red.data(), chromaWidth)) {
    return "this chroma siting is read only, never written";
  }
  if (!layout.interleaved) {
    return put(blue.data(), blue.size()) && put(red.data(), red.size()) ? std::string() : "write failed";
  }
  // NV12: U and V alternate in one plane, a row at a time.
  std::vector<std::uint8_t> pairs(2 * chromaWidth);
  for (std::size_t j = 0; j < chromaHeight; ++j) {
    for (std::size_t i = 0; i < chromaWidth; ++i) {
      pairs[2 * i] = blue[j * chromaWidth + i];
      pairs[2 * i + 1] = red[j * chromaWidth + i];
    }
    if (!put(pairs.data(), pairs.size())) return "write failed";
  }
  return {};
}

}  // namespace cstool

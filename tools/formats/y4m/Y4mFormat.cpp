// YUV4MPEG2, as video tools read and write it: a text header, then frames,
// each a FRAME line and the planes, 8 bits a sample, sampled 4:4:4, 4:2:2,
// 4:2:0 (three sitings) or monochrome.
#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "formats/Formats.h"
#include "formats/PlaneFrames.h"
#include "shared/InputFile.h"

namespace cstool {
namespace {

constexpr char kMagic[] = "YUV4MPEG2";
// Far more than any header needs; a longer line is not a header.
constexpr std::size_t kMaxLineBytes = 4096;

// The chroma tags read, and the sampling and siting each stands for.
struct ChromaTag {
  const char* tag;
  ChromaSampling sampling;
  ChromaSiting siting;
};
constexpr ChromaTag kChromaTags[] = {
    {"444", ChromaSampling::k444, ChromaSiting::kCenter},
    {"422", ChromaSampling::k422, ChromaSiting::kLeft},
    {"420jpeg", ChromaSampling::k420, ChromaSiting::kCenter},
    {"420", ChromaSampling::k420, ChromaSiting::kCenter},
    {"420mpeg2", ChromaSampling::k420, ChromaSiting::kLeft},
    {"420paldv", ChromaSampling::k420, ChromaSiting::kTopLeft},
    {"mono", ChromaSampling::kMono, ChromaSiting::kCenter},
};

// The tag a layout is written with.
const char* TagOf(const PlaneLayout& layout) {
  if (layout.sampling == ChromaSampling::k422) return "422";
  if (layout.sampling == ChromaSampling::k420) return layout.siting == ChromaSiting::kLeft ? "420mpeg2" : "420jpeg";
  return "444";
}

// The 8-bit pixel format to have ffmpeg write for a tag this reader refuses:
// the same sampling where it is read, else 4:4:4; full range where the
// file says so.
std::string PixelFormatFor(const std::string& tag, bool fullRange) {
  std::string format = "yuv444p";
  if (tag.rfind("422", 0) == 0) format = "yuv422p";
  if (tag.rfind("420", 0) == 0) format = "yuv420p";
  if (tag.rfind("mono", 0) == 0) return "gray";
  if (fullRange) format.insert(3, "j");
  return format;
}

// Reads up to a newline: the line, or nothing when the input ends first
// (`ended` tells whether it ended before any byte) or the line is too long.
std::optional<std::string> ReadLine(InputFile& input, bool& ended) {
  std::string line;
  char c = 0;
  ended = false;
  while (line.size() <= kMaxLineBytes) {
    if (input.Read(&c, 1) != 1) {
      ended = line.empty();
      return std::nullopt;
    }
    if (c == '\n') return line;
    line += c;
  }
  return std::nullopt;
}

// A number of 1 to `most` (0 too where `zero` allows it).
std::optional<std::uint32_t> Number(const std::string& digits, std::uint64_t most, bool zero = false) {
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const unsigned long long value = std::stoull(digits);
  if ((value == 0 && !zero) || value > most) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// "N:D", each 32 bits; 0:0 is how YUV4MPEG2 says "unknown".
std::optional<std::pair<std::uint32_t, std::uint32_t>> Ratio(const std::string& value) {
  const std::size_t colon = value.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto numerator = Number(value.substr(0, colon), UINT32_MAX, true);
  const auto denominator = Number(value.substr(colon + 1), UINT32_MAX, true);
  if (!numerator || !denominator || ((*numerator == 0) != (*denominator == 0))) return std::nullopt;
  return std::pair(*numerator, *denominator);
}

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  StreamInfo stream;               // its rate, interlacing and pixel shape
  std::string chroma = "420jpeg";  // the format's default when C is absent
  std::string range;               // XCOLORRANGE, or empty
};

std::string ParseHeader(const std::string& line, Header& header) {
  std::istringstream tokens(line);
  std::string token;
  tokens >> token;
  if (token != kMagic) return "not a YUV4MPEG2 header";
  bool width = false;
  bool height = false;
  while (tokens >> token) {
    const char tag = token[0];
    const std::string value = token.substr(1);
    if (tag == 'W' || tag == 'H') {
      // No longer than a picture's side, so that any frame can be a picture.
      const auto side = Number(value, kMaxPictureSide);
      if (!side) return "its header gives the size " + Printable(token, 40) + ", which is not a picture's size";
      (tag == 'W' ? header.width : header.height) = *side;
      (tag == 'W' ? width : height) = true;
    } else if (tag == 'F') {
      const auto rate = Ratio(value);
      if (!rate) return "its header gives the frame rate " + Printable(token, 40);
      // An unknown rate (0:0) is no rate: --fps, or the default, sets one.
      if (rate->first != 0) header.stream.rate = FrameRate{rate->first, rate->second};
    } else if (tag == 'I') {
      if (value.size() != 1 || std::string("ptbm?").find(value[0]) == std::string::npos) {
        return "its header gives the unknown interlacing " + Printable(token, 20);
      }
      header.stream.interlace = value[0] == '?' ? 'p' : value[0];
    } else if (tag == 'A') {
      const auto aspect = Ratio(value);
      if (!aspect) return "its header gives the pixel aspect " + Printable(token, 40);
      header.stream.aspect = std::to_string(aspect->first) + ":" + std::to_string(aspect->second);
    } else if (tag == 'C') {
      header.chroma = value;
    } else if (tag == 'X' && value.rfind("COLORRANGE=", 0) == 0) {
      if (!header.range.empty()) return "its header gives XCOLORRANGE more than once";
      header.range = value.substr(std::strlen("COLORRANGE="));
      if (header.range.empty()) return "its header gives an empty XCOLORRANGE";
    }
  }
  if (!width || !height) return "its header gives no size (W and H)";
  return {};
}

class Y4mFrames : public FrameReader {
 public:
  using FrameReader::FrameReader;

  // Reads and checks the header; returns the refusal, or nothing.
  std::string Open(ReadResult& result) {
    const std::string& path = input_.Path();
    bool ended = false;
    const std::optional<std::string> line = ReadLine(input_, ended);
    if (!line) return path + ": unreadable YUV4MPEG2 file (its header line is cut short or too long)";
    Header header;
    const std::string why = ParseHeader(*line, header);
    if (!why.empty()) return path + ": unreadable YUV4MPEG2 file (" + why + ")";
    if (header.range == "FULL") {
      model_ = Model::kYUV;
    } else if (header.range == "LIMITED") {
      model_ = Model::kYCbCr;
    } else if (!header.range.empty()) {
      return path + " gives the unknown range XCOLORRANGE=" + Printable(header.range, 20) +
             " (FULL or LIMITED are known)";
    }
    const ChromaTag* chroma = nullptr;
    for (const ChromaTag& known : kChromaTags) {
      if (header.chroma == known.tag) chroma = &known;
    }
    if (chroma == nullptr) {
      std::string read;
      for (const ChromaTag& known : kChromaTags) read += std::string(read.empty() ? "C" : ", C") + known.tag;
      const bool alpha = header.chroma.find("alpha") != std::string::npos;
      return path + " is YUV4MPEG2 C" + Printable(header.chroma, 20) + ", which is not read (" + read +
             ", 8 bits a sample, are): ffmpeg -pix_fmt " + PixelFormatFor(header.chroma, model_ == Model::kYUV) +
             (alpha ? " writes one that is, without the alpha plane" : " writes one that is");
    }
    if (chroma->sampling == ChromaSampling::k420 && header.stream.interlace != 'p') {
      return path + " is interlaced (I" + std::string(1, header.stream.interlace) +
             ") 4:2:0, whose chroma belongs to its fields, which is not read: deinterlace it first (ffmpeg -vf "
             "yadif) or have it written 4:2:2 or 4:4:4";
    }
    if (header.stream.interlace == 'm') {
      return path + " mixes interlacing frame by frame (Im), which is not read";
    }
    if (!model_ && !options_.modelGiven) {
      // Video tools take colour video as studio range, and grey as full.
      const bool grey = chroma->sampling == ChromaSampling::kMono;
      model_ = grey ? Model::kYUV : Model::kYCbCr;
      result.notes.push_back(path + " does not say its range (no XCOLORRANGE): taken as " +
                             (grey ? "yuv (full range), as video tools take a grey stream; --from ycbcr"
                                   : "ycbcr (studio range), as video tools take it; --from yuv") +
                             " reads it otherwise");
    }
    const std::string refusal = CheckPixelLimit(path, header.width, header.height, options_.maxPixels);
    if (!refusal.empty()) return refusal;
    width_ = header.width;
    height_ = header.height;
    info_ = header.stream;
    planes_.emplace(input_, options_, width_, height_, PlaneLayout{chroma->sampling, chroma->siting, false});
    // Where every frame line is the plain "FRAME", the size tells how many.
    const std::uint64_t frameBytes = 6 + planes_->FrameBytes();
    if (const auto left = input_.RemainingBytes(); left && *left % frameBytes == 0) info_.frames = *left / frameBytes;
    return {};
  }

  bool MoreFrames() override {
    char next[5] = {};
    return input_.Peek(next, sizeof next) == sizeof next && std::memcmp(next, "FRAME", 5) == 0;
  }

  bool Next(Picture& picture, ReadResult& result) override {
    const std::string& path = input_.Path();
    bool ended = false;
    const std::optional<std::string> line = ReadLine(input_, ended);
    if (!line || line->rfind("FRAME", 0) != 0 || (line->size() > 5 && (*line)[5] != ' ')) {
      if (ended || (line && Blank(*line) && AtEnd())) return false;
      if (input_.Failed()) {
        result.error = "cannot read " + path + ": " + input_.Reason();
      } else if (planes_->Frames() == 0) {
        result.error = path + ": unreadable YUV4MPEG2 file (no frame follows its header)";
      } else {
        result.error = path + ": what follows frame " + std::to_string(planes_->Frames()) + " is not a frame";
      }
      return false;
    }
    return planes_->Next(picture, result, model_, false);
  }

 private:
  static bool Blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
  }
  // Only white space is left: some tools end the file with a newline.
  bool AtEnd() {
    char rest[256];
    for (;;) {
      const std::size_t got = input_.Read(rest, sizeof rest);
      if (!std::all_of(rest, rest + got, [](char c) { return c == '\n' || c == ' ' || c == '\t' || c == '\r'; })) {
        return false;
      }
      if (got < sizeof rest) return !input_.Failed();
    }
  }

  std::optional<Model> model_;
  std::optional<PlaneFrameReader> planes_;
};

// The header goes out with the first frame, then a FRAME line before each.
class Y4mWriter : public PlaneFrameWriter {
 public:
  using PlaneFrameWriter::PlaneFrameWriter;

 private:
  std::string Before(const Picture& frame, const WriteContext& context, const PlaneLayout& layout) override {
    const StreamInfo& stream = context.settings.stream;
    const Model model = frame.record.model.value_or(Model::kRGB);
    if (frames_ == 0) {
      model_ = model;
      // --fps, else the first input's rate, else the default.
      const FrameRate rate = context.settings.given.Get<FrameRate>("--fps").value_or(stream.rate.value_or(FrameRate{}));
      if (std::fprintf(stream_, "%s W%d H%d F%u:%u I%c A%s C%s XCOLORRANGE=%s\n", kMagic, frame.width, frame.height,
                       rate.numerator, rate.denominator, stream.interlace, stream.aspect.c_str(), TagOf(layout),
                       model == Model::kYUV ? "FULL" : "LIMITED") < 0) {
        return "write failed";
      }
    } else if (model != model_) {
      return "a frame of another model among the stream's";
    }
    return std::fputs("FRAME\n", stream_) < 0 ? "write failed" : "";
  }

  Model model_ = Model::kRGB;
};

}  // namespace

extern constinit const Format kY4mFormat{
    .name = "y4m",
    .title = "YUV4MPEG2",
    .suffixes = ".y4m",
    .help =
        "yuv or ycbcr video frames for video tools: 8-bit planes sampled 4:4:4, 4:2:2 or 4:2:0 (--sampling), "
        "XCOLORRANGE=FULL for yuv, LIMITED for ycbcr",
    .signature = std::string_view("YUV4MPEG2 ", 10),
    .openReader = OpenReader<Y4mFrames>,
    .openWriter = NewWriter<Y4mWriter>,
    .models = kHoldsYuv | kHoldsYCbCr,
    .modelsWhy = "its frames hold luma and colour-difference planes",
    .manyFrames = true,
    .samplings =
        SamplingFlag(SamplingChoice::k444) | SamplingFlag(SamplingChoice::k422) | SamplingFlag(SamplingChoice::k420),
    .writeOptions = "--sampling --chroma-siting --fps",
};

}  // namespace cstool

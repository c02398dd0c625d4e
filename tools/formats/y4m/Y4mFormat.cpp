// YUV4MPEG2, as video tools read and write it: a text header, then frames
// of planes. Only one 8-bit 4:4:4 frame is read or written.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "shared/InputFile.h"
#include "shared/Messages.h"

namespace cstool {
namespace {

constexpr char kMagic[] = "YUV4MPEG2";
// Far more than any header needs; a longer line is not a header.
constexpr std::size_t kMaxLineBytes = 4096;
// B, G, R, A in memory: the third byte holds Y, the second U (Cb), the
// first V (Cr); the file's planes come in the order Y, U, V.
constexpr std::size_t kPlaneOffsets[3] = {2, 1, 0};

// Reads up to a newline; false when the file ends first or the line is
// too long.
bool ReadLine(InputFile& input, std::string& line) {
  line.clear();
  char c = 0;
  while (line.size() <= kMaxLineBytes) {
    if (input.Read(&c, 1) != 1) return false;
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

std::optional<std::uint32_t> Dimension(const std::string& digits) {
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const unsigned long long value = std::stoull(digits);
  if (value == 0 || value > kMaxPngSide) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
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
      const auto side = Dimension(value);
      if (!side) return "its header gives the size " + Printable(token, 40) + ", which is not a picture's size";
      (tag == 'W' ? header.width : header.height) = *side;
      (tag == 'W' ? width : height) = true;
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

std::string ReadPlanes(InputFile& input, const Header& header, Picture& picture) {
  const std::size_t width = header.width;
  std::vector<std::uint8_t> row(width);
  for (const std::size_t offset : kPlaneOffsets) {
    for (std::uint32_t y = 0; y < header.height; ++y) {
      if (input.Read(row.data(), width) != width) {
        return input.Failed() ? "cannot read it: " + input.Reason() : std::string("the file ends within its frame");
      }
      std::uint8_t* pixel = picture.bgra.data() + std::size_t{4} * width * y + offset;
      for (std::size_t x = 0; x < width; ++x) pixel[4 * x] = row[x];
    }
  }
  return {};
}

// After the frame: the end of the file (white space allowed, as some tools
// end the file with a newline).
std::string CheckEnd(InputFile& input) {
  char next[5] = {};
  const std::size_t got = input.Peek(next, sizeof next);
  if (got == sizeof next && std::memcmp(next, "FRAME", 5) == 0) {
    return "it holds more than one frame; only single pictures are read";
  }
  std::vector<char> rest(4096);
  const std::size_t extra = input.Read(rest.data(), rest.size());
  const bool blank = std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(extra),
                                 [](char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; });
  if (blank && extra < rest.size()) return {};
  return "it holds data after its frame that is not a frame";
}

}  // namespace

ReadResult ReadY4m(InputFile& input, const ReadLimits& limits, Picture& picture) {
  ReadResult result;
  const std::string& path = input.Path();
  std::string line;
  if (!ReadLine(input, line)) {
    result.error = path + ": unreadable YUV4MPEG2 file (its header line is cut short or too long)";
    return result;
  }
  Header header;
  std::string why = ParseHeader(line, header);
  if (!why.empty()) {
    result.error = path + ": unreadable YUV4MPEG2 file (" + why + ")";
    return result;
  }
  if (header.chroma != "444") {
    result.error = path + " is YUV4MPEG2 C" + Printable(header.chroma, 20) +
                   "; only C444 (8-bit 4:4:4 planes) is read (ffmpeg -pix_fmt yuv444p writes it)";
    return result;
  }
  if (header.range == "FULL") {
    picture.record.model = Model::kYUV;
  } else if (header.range == "LIMITED") {
    picture.record.model = Model::kYCbCr;
  } else if (header.range.empty()) {
    picture.needsModel = true;
  } else {
    result.error =
        path + " gives the unknown range XCOLORRANGE=" + Printable(header.range, 20) + " (FULL or LIMITED are known)";
    return result;
  }
  result.error = CheckPixelLimit(path, header.width, header.height, limits.maxPixels);
  if (!result.error.empty()) return result;
  result.error = AdmitPicture(limits, path, header.width, header.height, header.width);
  if (!result.error.empty()) return result;
  if (!ReadLine(input, line) || line.rfind("FRAME", 0) != 0) {
    result.error = path + ": unreadable YUV4MPEG2 file (no frame follows its header)";
    return result;
  }
  picture.width = static_cast<std::int32_t>(header.width);
  picture.height = static_cast<std::int32_t>(header.height);
  picture.hasAlpha = false;
  picture.bgra.resize(std::size_t{4} * header.width * header.height);
  why = ReadPlanes(input, header, picture);
  if (why.empty()) why = CheckEnd(input);
  if (!why.empty()) {
    picture = Picture{};
    result.error = path + ": " + why;
    return result;
  }
  for (std::size_t i = 3; i < picture.bgra.size(); i += 4) picture.bgra[i] = 255;
  return result;
}

std::string WriteY4m(std::FILE* stream, const Picture& picture, const WriteContext& /*context*/) {
  const Model model = picture.record.model.value_or(Model::kRGB);
  if (std::fprintf(stream, "%s W%d H%d F25:1 Ip A1:1 C444 XCOLORRANGE=%s\nFRAME\n", kMagic, picture.width,
                   picture.height, model == Model::kYUV ? "FULL" : "LIMITED") < 0) {
    return "write failed";
  }
  const auto width = static_cast<std::size_t>(picture.width);
  std::vector<std::uint8_t> row(width);
  for (const std::size_t offset : kPlaneOffsets) {
    for (std::int32_t y = 0; y < picture.height; ++y) {
      const std::uint8_t* pixel = picture.bgra.data() + std::size_t{4} * width * static_cast<std::size_t>(y) + offset;
      for (std::size_t x = 0; x < width; ++x) row[x] = pixel[4 * x];
      if (std::fwrite(row.data(), 1, width, stream) != width) return "write failed";
    }
  }
  return std::fflush(stream) == 0 ? std::string() : std::string("write failed");
}

}  // namespace cstool

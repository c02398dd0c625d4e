// colorspace pixel: one colour, converted as pictures are (the fast path),
// or with --exact by the library's single-pixel members (the exact path).
#include <ColorSpace/ColorSpace.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "commands/Commands.h"

namespace cstool {
namespace {

const char* const kComponentNames[3][3] = {{"R", "G", "B"}, {"Y", "U", "V"}, {"Y", "Cb", "Cr"}};

std::optional<std::uint8_t> ParseComponent(const std::string& text) {
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const int value = std::atoi(text.c_str());
  if (value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

bool ParseHex(const std::string& text, std::uint8_t (&components)[3]) {
  if (text.size() != 7 || text[0] != '#' || !std::all_of(text.begin() + 1, text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      })) {
    return false;
  }
  const unsigned long value = std::strtoul(text.c_str() + 1, nullptr, 16);
  components[0] = static_cast<std::uint8_t>(value >> 16);
  components[1] = static_cast<std::uint8_t>(value >> 8);
  components[2] = static_cast<std::uint8_t>(value);
  return true;
}

// The exact path: the library's single-pixel members; yuv and ycbcr meet
// in rgb.
void ConvertExactly(Model from, Model to, std::uint8_t (&c)[3]) {
  CColorSpace converter;
  if (from != Model::kRGB) {
    from == Model::kYUV ? converter.YUVtoRGB(c[0], c[1], c[2]) : converter.YCbCrtoRGB(c[0], c[1], c[2]);
  }
  if (to != Model::kRGB) {
    to == Model::kYUV ? converter.RGBtoYUV(c[0], c[1], c[2]) : converter.RGBtoYCbCr(c[0], c[1], c[2]);
  }
}

// The fast path: a one-pixel picture, converted as pictures are.
std::string ConvertFast(Model from, Model to, std::uint8_t (&c)[3]) {
  Picture pixel;
  pixel.width = 1;
  pixel.height = 1;
  pixel.bgra = {c[2], c[1], c[0], 255};
  const std::string error = ConvertPixels(pixel, from, to, nullptr, false);
  c[0] = pixel.bgra[2];
  c[1] = pixel.bgra[1];
  c[2] = pixel.bgra[0];
  return error;
}

}  // namespace

int RunPixel(const Options& options) {
  if (!options.to) return Fail("pixel needs --to MODEL (see colorspace pixel --help)", kExitUsage);
  const Model from = options.from.value_or(Model::kRGB);
  const Model to = *options.to;
  std::uint8_t components[3] = {};
  if (options.operands.size() == 1) {
    if (!ParseHex(options.operands[0], components)) return Fail("a colour is '#RRGGBB' or three numbers", kExitUsage);
  } else if (options.operands.size() == 3) {
    for (std::size_t i = 0; i < 3; ++i) {
      const auto component = ParseComponent(options.operands[i]);
      if (!component) return Fail("components are whole numbers from 0 to 255", kExitUsage);
      components[i] = *component;
    }
  } else {
    return Fail("pixel takes three components or '#RRGGBB'", kExitUsage);
  }
  if (from == to) {
    std::fprintf(stderr, "colorspace: note: the colour is already %s%s: printed as it is\n", NameOf(to),
                 options.from ? "" : " (--from names the model it is in)");
  } else if (options.exact) {
    ConvertExactly(from, to, components);
  } else {
    const std::string error = ConvertFast(from, to, components);
    if (!error.empty()) return Fail(error);
  }
  const std::uint8_t a = components[0];
  const std::uint8_t b = components[1];
  const std::uint8_t c = components[2];
  switch (options.format) {
    case PixelFormat::kHex:
      std::printf("#%02X%02X%02X\n", a, b, c);
      break;
    case PixelFormat::kCsv:
      std::printf("%u,%u,%u\n", a, b, c);
      break;
    default: {
      const auto& names = kComponentNames[static_cast<int>(to)];
      std::printf("%s %u %s %u %s %u #%02X%02X%02X\n", names[0], a, names[1], b, names[2], c, a, b, c);
    }
  }
  return kExitOk;
}

}  // namespace cstool

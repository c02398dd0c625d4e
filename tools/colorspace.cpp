// colorspace: converts PNG images and single colours between RGB, YUV and
// YCbCr with the ColorSpace library, and shows what a conversion does.
#include <ColorSpace/ColorSpace.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "PngFile.h"

namespace {

using cstool::Picture;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: colorspace [COMMAND] [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  convert --to MODEL [--from MODEL] [--mask MASK.png] [--exact] INPUT.png OUTPUT.png\n"
    "  convert --to MODEL [--from MODEL] [--mask MASK.png] [--exact] --out-dir DIR INPUT.png...\n"
    "      Converts whole images. Without --mask or --exact every pixel is converted\n"
    "      by the fast path (fixed point, each value within 0.55 of exact); --exact\n"
    "      uses the exact path (truncated) on every pixel;\n"
    "      --mask converts exactly only the pixels whose mask value is non-zero.\n"
    "      Alpha passes through. The model is recorded in the output file.\n"
    "  planes [--model yuv|ycbcr] INPUT.png OUTPUT.png\n"
    "      Writes the three components side by side as grey images.\n"
    "  pixel --to MODEL [--from MODEL] R G B | #RRGGBB\n"
    "      Converts one colour and prints its components.\n"
    "  demo [DIR]\n"
    "      Builds a colour chart, converts it both ways on both paths, writes the\n"
    "      images into DIR (default: .) and prints the round-trip error.\n"
    "      This is what colorspace does without arguments.\n"
    "\n"
    "MODEL is rgb, yuv or ycbcr. Files without a recorded model are taken as rgb.\n"
    "Options: --help, --version\n";

enum class Model { kRGB, kYUV, kYCbCr };

std::optional<Model> ParseModel(const std::string& name) {
  if (name == "rgb") return Model::kRGB;
  if (name == "yuv") return Model::kYUV;
  if (name == "ycbcr") return Model::kYCbCr;
  return std::nullopt;
}

const char* NameOf(Model model) {
  switch (model) {
    case Model::kYUV:
      return "yuv";
    case Model::kYCbCr:
      return "ycbcr";
    default:
      return "rgb";
  }
}

const char* ComponentNames(Model model) {
  switch (model) {
    case Model::kYUV:
      return "YUV";
    case Model::kYCbCr:
      return "Y Cb Cr";
    default:
      return "RGB";
  }
}

std::int32_t FormatOf(Model model) {
  switch (model) {
    case Model::kYUV:
      return FORMAT_YUV;
    case Model::kYCbCr:
      return FORMAT_YCBCR;
    default:
      return FORMAT_RGB;
  }
}

int Fail(const std::string& message, int status = kExitFailure) {
  std::fprintf(stderr, "colorspace: %s\n", message.c_str());
  return status;
}

// Converts `in` (of model `from`) into `out` (of model `to`) through the
// library's two-image members. The destination starts as a copy of the
// source, so unselected pixels and the alpha byte stay as they were.
std::string ConvertPicture(const Picture& in, Model from, Model to, const std::vector<std::uint8_t>* mask, bool exact,
                           Picture& out) {
  if (from == to) return std::string("the image is already ") + NameOf(to);
  if (from != Model::kRGB && to != Model::kRGB) {
    return std::string("no direct conversion from ") + NameOf(from) + " to " + NameOf(to) + "; convert to rgb first";
  }
  std::vector<std::uint8_t> fullMask;
  if (mask == nullptr && exact) {
    fullMask.assign(static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.height), 1);
    mask = &fullMask;
  }
  out = in;
  out.model = NameOf(to);
  Picture source = in;  // the descriptor wants writable pointers
  tColorInterfaceImage src{source.bgra.data(), source.width,
                           source.height,      4 * source.width,
                           FormatOf(from),     mask != nullptr ? const_cast<std::uint8_t*>(mask->data()) : nullptr,
                           source.width};
  tColorInterfaceImage dst{out.bgra.data(), out.width, out.height, 4 * out.width, FormatOf(from), nullptr, 0};
  CColorSpace converter;
  const bool useMask = mask != nullptr;
  bool done = false;
  if (from == Model::kRGB) {
    done = to == Model::kYUV ? converter.RGBtoYUV(&src, &dst, useMask) : converter.RGBtoYCbCr(&src, &dst, useMask);
  } else {
    done = from == Model::kYUV ? converter.YUVtoRGB(&src, &dst, useMask) : converter.YCbCrtoRGB(&src, &dst, useMask);
  }
  if (!done || dst.nFormat != FormatOf(to)) return "the library refused the conversion";
  return {};
}

// The model of a file read from disk: what it records, checked against
// --from when both are present; rgb when neither says.
std::string ResolveModel(const std::string& path, const Picture& picture, const std::optional<Model>& given,
                         Model& model) {
  if (!picture.model.empty()) {
    const auto recorded = ParseModel(picture.model);
    if (!recorded) return path + " records an unknown colour model '" + picture.model + "'";
    if (given && *given != *recorded) {
      return path + " is recorded as " + picture.model + ", not " + NameOf(*given);
    }
    model = *recorded;
    return {};
  }
  model = given.value_or(Model::kRGB);
  return {};
}

bool ReadPicture(const std::string& path, Picture& picture, std::string& error) {
  const cstool::ReadResult result = cstool::ReadPng(path, picture);
  if (!result.ok) {
    error = result.error;
    return false;
  }
  if (!result.note.empty()) std::fprintf(stderr, "colorspace: note: %s\n", result.note.c_str());
  return true;
}

struct Arguments {
  std::vector<std::string> positional;
  std::optional<Model> to;
  std::optional<Model> from;
  std::optional<Model> model;
  std::string mask;
  std::string outDir;
  bool exact = false;
};

// Parses the options shared by the commands; returns an error line.
std::string ParseArguments(int argc, char** argv, int first, Arguments& args) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) -> bool {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    auto modelValue = [&](std::optional<Model>& into) -> std::string {
      std::string name;
      if (!value(name)) return arg + " needs a model";
      into = ParseModel(name);
      if (!into) return "unknown colour model '" + name + "' (use rgb, yuv or ycbcr)";
      return {};
    };
    std::string error;
    if (arg == "--to") {
      error = modelValue(args.to);
    } else if (arg == "--from") {
      error = modelValue(args.from);
    } else if (arg == "--model") {
      error = modelValue(args.model);
    } else if (arg == "--mask") {
      if (!value(args.mask)) error = "--mask needs a file";
    } else if (arg == "--out-dir") {
      if (!value(args.outDir)) error = "--out-dir needs a directory";
    } else if (arg == "--exact") {
      args.exact = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      error = "unknown option " + arg;
    } else {
      args.positional.push_back(arg);
    }
    if (!error.empty()) return error;
  }
  return {};
}

// One updating line on a terminal, nothing otherwise.
class Progress {
 public:
  explicit Progress(std::size_t total) : total_(total), enabled_(total > 1 && isatty(STDERR_FILENO) != 0) {}
  void Show(std::size_t done, const std::string& name) const {
    if (enabled_) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total_, name.c_str());
  }
  void Finish() const {
    if (enabled_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  std::size_t total_;
  bool enabled_;
};

int ConvertCommand(const Arguments& args) {
  if (!args.to) return Fail("convert needs --to MODEL", kExitUsage);
  std::vector<std::pair<std::string, std::string>> jobs;
  if (!args.outDir.empty()) {
    if (args.positional.empty()) return Fail("convert needs at least one input", kExitUsage);
    if (!std::filesystem::is_directory(args.outDir)) return Fail(args.outDir + " is not a directory");
    for (const std::string& input : args.positional) {
      jobs.emplace_back(input, (std::filesystem::path(args.outDir) / std::filesystem::path(input).filename()).string());
    }
  } else {
    if (args.positional.size() != 2) return Fail("convert takes INPUT.png OUTPUT.png (or --out-dir)", kExitUsage);
    jobs.emplace_back(args.positional[0], args.positional[1]);
  }

  std::vector<std::uint8_t> mask;
  std::int32_t maskWidth = 0;
  std::int32_t maskHeight = 0;
  if (!args.mask.empty()) {
    Picture maskPicture;
    std::string error;
    if (!ReadPicture(args.mask, maskPicture, error)) return Fail(error);
    maskWidth = maskPicture.width;
    maskHeight = maskPicture.height;
    mask.resize(static_cast<std::size_t>(maskWidth) * static_cast<std::size_t>(maskHeight));
    for (std::size_t i = 0; i < mask.size(); ++i) {
      const std::uint8_t* pixel = &maskPicture.bgra[4 * i];
      mask[i] = (pixel[0] | pixel[1] | pixel[2]) != 0 ? 1 : 0;
    }
  }

  const Progress progress(jobs.size());
  int status = kExitOk;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    const auto& [input, output] = jobs[j];
    progress.Show(j + 1, input);
    Picture picture;
    std::string error;
    Model from = Model::kRGB;
    Picture converted;
    if (!ReadPicture(input, picture, error) || !(error = ResolveModel(input, picture, args.from, from)).empty()) {
    } else if (!args.mask.empty() && (maskWidth != picture.width || maskHeight != picture.height)) {
      error = "mask " + args.mask + " is " + std::to_string(maskWidth) + "x" + std::to_string(maskHeight) + ", " +
              input + " is " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
    } else if (!(error = ConvertPicture(picture, from, *args.to, args.mask.empty() ? nullptr : &mask, args.exact,
                                        converted))
                    .empty()) {
      error = input + ": " + error;
    } else {
      error = cstool::WritePng(output, converted);
    }
    if (!error.empty()) {
      progress.Finish();
      status = Fail(error);
    }
  }
  progress.Finish();
  return status;
}

// Components first, second, third side by side as grey images.
cstool::GreyPicture Planes(const Picture& picture) {
  cstool::GreyPicture planes;
  planes.width = 3 * picture.width;
  planes.height = picture.height;
  planes.grey.resize(static_cast<std::size_t>(planes.width) * static_cast<std::size_t>(planes.height));
  for (std::int32_t y = 0; y < picture.height; ++y) {
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint8_t* pixel =
          &picture.bgra[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) + x)];
      for (int component = 0; component < 3; ++component) {
        planes.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(planes.width) +
                    static_cast<std::size_t>(component * picture.width + x)] = pixel[2 - component];
      }
    }
  }
  return planes;
}

int PlanesCommand(const Arguments& args) {
  if (args.positional.size() != 2) return Fail("planes takes INPUT.png OUTPUT.png", kExitUsage);
  if (args.model == Model::kRGB) return Fail("--model is yuv or ycbcr", kExitUsage);
  Picture picture;
  std::string error;
  Model model = Model::kRGB;
  if (!ReadPicture(args.positional[0], picture, error)) return Fail(error);
  error = ResolveModel(args.positional[0], picture, args.from, model);
  if (!error.empty()) return Fail(error);
  if (model == Model::kRGB) {
    Picture converted;
    error = ConvertPicture(picture, Model::kRGB, args.model.value_or(Model::kYUV), nullptr, true, converted);
    if (!error.empty()) return Fail(error);
    picture = std::move(converted);
  } else if (args.model && *args.model != model) {
    return Fail(args.positional[0] + " holds " + NameOf(model) + ", not " + NameOf(*args.model));
  }
  error = cstool::WriteGreyPng(args.positional[1], Planes(picture));
  return error.empty() ? kExitOk : Fail(error);
}

std::optional<std::uint8_t> ParseComponent(const std::string& text) {
  if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), ::isdigit)) return std::nullopt;
  const int value = std::atoi(text.c_str());
  if (value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

int PixelCommand(const Arguments& args) {
  if (!args.to) return Fail("pixel needs --to MODEL", kExitUsage);
  const Model from = args.from.value_or(Model::kRGB);
  std::uint8_t components[3] = {};
  if (args.positional.size() == 1 && args.positional[0].size() == 7 && args.positional[0][0] == '#' &&
      std::all_of(args.positional[0].begin() + 1, args.positional[0].end(), ::isxdigit)) {
    const unsigned long value = std::strtoul(args.positional[0].c_str() + 1, nullptr, 16);
    components[0] = static_cast<std::uint8_t>(value >> 16);
    components[1] = static_cast<std::uint8_t>(value >> 8);
    components[2] = static_cast<std::uint8_t>(value);
  } else if (args.positional.size() == 3) {
    for (int i = 0; i < 3; ++i) {
      const auto component = ParseComponent(args.positional[static_cast<std::size_t>(i)]);
      if (!component) return Fail("components are whole numbers from 0 to 255", kExitUsage);
      components[i] = *component;
    }
  } else {
    return Fail("pixel takes three components or #RRGGBB", kExitUsage);
  }
  if (from == *args.to) return Fail(std::string("the colour is already ") + NameOf(from), kExitUsage);
  if (from != Model::kRGB && *args.to != Model::kRGB) {
    return Fail(std::string("no direct conversion from ") + NameOf(from) + " to " + NameOf(*args.to), kExitUsage);
  }
  CColorSpace converter;
  std::uint8_t& a = components[0];
  std::uint8_t& b = components[1];
  std::uint8_t& c = components[2];
  if (from == Model::kRGB) {
    *args.to == Model::kYUV ? converter.RGBtoYUV(a, b, c) : converter.RGBtoYCbCr(a, b, c);
  } else {
    from == Model::kYUV ? converter.YUVtoRGB(a, b, c) : converter.YCbCrtoRGB(a, b, c);
  }
  std::printf("%s %u %u %u  #%02X%02X%02X\n", ComponentNames(*args.to), a, b, c, a, b, c);
  return kExitOk;
}

// A chart of primaries and secondaries, a grey ramp, hue gradients and a
// smooth photo-like field.
Picture MakeChart() {
  Picture chart;
  chart.width = 512;
  chart.height = 384;
  chart.model = "rgb";
  chart.bgra.resize(static_cast<std::size_t>(chart.width) * static_cast<std::size_t>(chart.height) * 4);
  const std::uint8_t bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                   {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  for (std::int32_t y = 0; y < chart.height; ++y) {
    for (std::int32_t x = 0; x < chart.width; ++x) {
      double r = 0;
      double g = 0;
      double b = 0;
      if (y < 96) {  // colour bars
        const auto* bar = bars[x / 64];
        r = bar[0];
        g = bar[1];
        b = bar[2];
      } else if (y < 160) {  // grey ramp
        r = g = b = x / 2.0;
      } else if (y < 256) {  // hue sweep, full then half saturation
        const double hue = 6.0 * x / chart.width;
        const double f = hue - std::floor(hue);
        const int sector = static_cast<int>(hue) % 6;
        const double q = 1 - f;
        const double rgb[6][3] = {{1, f, 0}, {q, 1, 0}, {0, 1, f}, {0, q, 1}, {f, 0, 1}, {1, 0, q}};
        const double saturation = y < 208 ? 1.0 : 0.5;
        r = 255 * (1 - saturation + saturation * rgb[sector][0]);
        g = 255 * (1 - saturation + saturation * rgb[sector][1]);
        b = 255 * (1 - saturation + saturation * rgb[sector][2]);
      } else {  // smooth field
        r = 128 + 90 * std::sin(x * 0.021) * std::cos(y * 0.033);
        g = 120 + 80 * std::sin((x + y) * 0.017);
        b = 110 + 100 * std::cos(x * 0.011 - y * 0.029);
      }
      std::uint8_t* pixel = &chart.bgra[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(chart.width) + x)];
      pixel[0] = static_cast<std::uint8_t>(std::clamp(b, 0.0, 255.0));
      pixel[1] = static_cast<std::uint8_t>(std::clamp(g, 0.0, 255.0));
      pixel[2] = static_cast<std::uint8_t>(std::clamp(r, 0.0, 255.0));
      pixel[3] = 255;
    }
  }
  return chart;
}

int DemoCommand(const Arguments& args) {
  if (args.positional.size() > 1) return Fail("demo takes at most one directory", kExitUsage);
  const std::filesystem::path dir = args.positional.empty() ? "." : args.positional[0];
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  if (!std::filesystem::is_directory(dir)) return Fail(dir.string() + " is not a directory");

  const Picture chart = MakeChart();
  std::string error = cstool::WritePng((dir / "chart.png").string(), chart);
  if (!error.empty()) return Fail(error);

  std::printf("Round trip RGB -> model -> RGB on %dx%d chart pixels (absolute error per channel)\n", chart.width,
              chart.height);
  std::printf("%-6s %-16s %8s %8s %8s %8s %8s %8s\n", "model", "path", "max R", "max G", "max B", "mean R", "mean G",
              "mean B");
  for (Model model : {Model::kYUV, Model::kYCbCr}) {
    for (bool exact : {false, true}) {
      Picture converted;
      Picture back;
      error = ConvertPicture(chart, Model::kRGB, model, nullptr, exact, converted);
      if (error.empty()) error = ConvertPicture(converted, model, Model::kRGB, nullptr, exact, back);
      const std::string stem = std::string("chart-") + NameOf(model) + (exact ? "-exact" : "-fast");
      if (error.empty()) error = cstool::WritePng((dir / (stem + ".png")).string(), converted);
      if (error.empty()) error = cstool::WritePng((dir / (stem + "-back.png")).string(), back);
      if (error.empty() && exact) {
        error =
            cstool::WriteGreyPng((dir / (std::string("planes-") + NameOf(model) + ".png")).string(), Planes(converted));
      }
      if (!error.empty()) return Fail(error);
      int maxError[3] = {};
      double sumError[3] = {};
      for (std::size_t i = 0; i < chart.bgra.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
          const int difference = std::abs(int{back.bgra[i + 2 - c]} - int{chart.bgra[i + 2 - c]});
          maxError[c] = std::max(maxError[c], difference);
          sumError[c] += difference;
        }
      }
      const double pixels = static_cast<double>(chart.bgra.size()) / 4.0;
      std::printf("%-6s %-16s %8d %8d %8d %8.3f %8.3f %8.3f\n", NameOf(model),
                  exact ? "exact (masked)" : "fast (unmasked)", maxError[0], maxError[1], maxError[2],
                  sumError[0] / pixels, sumError[1] / pixels, sumError[2] / pixels);
    }
  }
  std::printf("Wrote chart.png, chart-{yuv,ycbcr}-{fast,exact}[-back].png and planes-{yuv,ycbcr}.png to %s\n",
              dir.string().c_str());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return DemoCommand(Arguments{});
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("colorspace %s\n", COLORSPACE_VERSION);
    return kExitOk;
  }
  Arguments args;
  const std::string error = ParseArguments(argc, argv, 2, args);
  if (!error.empty()) return Fail(error, kExitUsage);
  if (command == "convert") return ConvertCommand(args);
  if (command == "planes") return PlanesCommand(args);
  if (command == "pixel") return PixelCommand(args);
  if (command == "demo") return DemoCommand(args);
  std::fprintf(stderr, "colorspace: unknown command '%s'\n%s", command.c_str(), kUsage);
  return kExitUsage;
}

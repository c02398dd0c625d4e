// colorspace demo: a colour chart through both models and both paths.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands/Commands.h"

namespace cstool {
namespace {

// A chart of primaries and secondaries, a grey ramp, hue gradients and a
// smooth photo-like field.
Picture MakeChart() {
  Picture chart;
  chart.width = 512;
  chart.height = 384;
  chart.hasAlpha = false;
  chart.record.model = Model::kRGB;
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

// Converts a copy of the chart to `model` and back; returns both.
std::string RoundTrip(const Picture& chart, Model model, bool exact, Picture& converted, Picture& back) {
  converted = chart;
  std::string error = ConvertPixels(converted, Model::kRGB, model, nullptr, exact);
  converted.record.model = model;
  back = converted;
  if (error.empty()) error = ConvertPixels(back, model, Model::kRGB, nullptr, exact);
  back.record.model = Model::kRGB;
  return error;
}

}  // namespace

int RunDemo(const Options& options) {
  if (options.operands.size() > 1) return Fail("demo takes at most one directory", kExitUsage);
  const std::filesystem::path dir = options.operands.empty() ? "." : options.operands[0];
  std::string error = MakeFolder(dir.string());
  if (!error.empty()) return Fail(error);

  const Picture chart = MakeChart();
  Progress progress(1);
  const WriteSettings settings = WriteSettingsFor(options);
  auto write = [&](const std::string& name, const Picture& picture) {
    return WritePicture((dir / name).string(), picture, settings, progress, nullptr, OutputName::kMade);
  };
  error = write("chart.png", chart);
  if (!error.empty()) return Fail(error);

  std::printf("Round trip RGB -> model -> RGB on the %dx%d chart (absolute error per channel)\n", chart.width,
              chart.height);
  std::printf("%-6s %-16s %8s %8s %8s %8s %8s %8s\n", "model", "path", "max R", "max G", "max B", "mean R", "mean G",
              "mean B");
  for (const Model model : {Model::kYUV, Model::kYCbCr}) {
    for (const bool exact : {false, true}) {
      Picture converted;
      Picture back;
      error = RoundTrip(chart, model, exact, converted, back);
      const std::string stem = std::string("chart-") + NameOf(model) + (exact ? "-exact" : "-fast");
      if (error.empty()) error = write(stem + ".png", converted);
      if (error.empty()) error = write(stem + "-back.png", back);
      if (error.empty() && exact) {
        error = WriteGreyPicture((dir / (std::string("planes-") + NameOf(model) + ".png")).string(), Planes(converted),
                                 settings, progress, nullptr, OutputName::kMade);
      }
      if (!error.empty()) return Fail(error);
      int maxError[3] = {};
      double sumError[3] = {};
      for (std::size_t i = 0; i < chart.bgra.size(); i += 4) {
        for (std::size_t c = 0; c < 3; ++c) {
          const int difference = std::abs(int{back.bgra[i + 2 - c]} - int{chart.bgra[i + 2 - c]});
          maxError[c] = std::max(maxError[c], difference);
          sumError[c] += difference;
        }
      }
      const double pixels = static_cast<double>(chart.Pixels());
      std::printf("%-6s %-16s %8d %8d %8d %8.3f %8.3f %8.3f\n", NameOf(model),
                  exact ? "exact (masked)" : "fast (unmasked)", maxError[0], maxError[1], maxError[2],
                  sumError[0] / pixels, sumError[1] / pixels, sumError[2] / pixels);
    }
  }
  std::printf(
      "\n"
      "The fast path rounds each value to one of the two nearest integers (within\n"
      "0.55 of exact) on the way there and again on the way back, so its errors\n"
      "mostly cancel. The exact path truncates toward zero on both legs, and\n"
      "truncation always errs downwards, so its round trip loses more: exact means\n"
      "every value is the formula's, truncated, not that the trip back is lossless.\n"
      "The YUV and YCbCr pictures hold Y, U/Cb and V/Cr where viewers expect R, G\n"
      "and B, so they look like false colour; the planes-*.png files show the three\n"
      "components side by side in grey.\n"
      "\n"
      "Wrote chart.png, chart-{yuv,ycbcr}-{fast,exact}[-back].png and planes-{yuv,ycbcr}.png to %s\n",
      dir.string().c_str());
  return kExitOk;
}

}  // namespace cstool

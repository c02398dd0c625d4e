// The command line: commands, their options and their help.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "shared/ColorModel.h"

namespace cstool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The --mask-threshold suggested for a JPEG mask: above its noise near
// black.
inline constexpr int kJpegMaskThreshold = 32;

enum class PixelFormat { kText, kHex, kCsv };

struct Options {
  std::string command;  // convert, planes, pixel or demo
  std::vector<std::string> operands;
  std::optional<Model> to;
  std::optional<Model> from;
  std::optional<Model> model;
  std::string mask;
  int maskThreshold = 0;  // a mask pixel selects when its brightest component exceeds it
  std::string outDir;
  bool exact = false;
  bool forgetSelection = false;
  bool help = false;
  int jobs = 0;  // 0: one per processor
  std::uint64_t maxPixels = kDefaultMaxPixels;
  std::uint64_t maxMemory = 0;  // 0: half of the machine's memory
  Compression compression = Compression::kDefault;
  PixelFormat format = PixelFormat::kText;  // pixel's --format
  std::string imageFormat;                  // --format of the commands writing pictures, as given
  int quality = kDefaultJpegQuality;
  // Streams of frames.
  SamplingChoice sampling = SamplingChoice::k444;  // how .y4m and .yuv outputs are written
  bool samplingGiven = false;
  ChromaSiting siting = ChromaSiting::kCenter;  // of 4:2:0 written, and of raw 4:2:0 read
  bool sitingGiven = false;
  std::optional<FrameRate> fps;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> inputSize;  // raw input
  std::optional<SamplingChoice> inputSampling;                       // raw input
};

// Parses argv[1...]. Returns an error line for a usage error, else nothing.
// Options may come anywhere, as "--name value" or "--name=value"; "--" ends
// them. An option the command does not take is an error.
std::string ParseCommandLine(int argc, char** argv, Options& options);

// The help of one command, or of the program when `command` is empty.
std::string HelpFor(const std::string& command);
// What a bare `colorspace` prints to standard error.
std::string ShortUsage();

bool IsCommand(const std::string& name);
// Runs the command named `name` (see IsCommand); returns the exit status.
int RunCommand(const std::string& name, const Options& options);
// The commands, what each does and its options, as a Markdown table: the
// README's list.
std::string CommandTableMarkdown();

}  // namespace cstool

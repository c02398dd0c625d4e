// The tool's commands, and what they share.
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"
#include "MemoryBudget.h"
#include "OutputFile.h"
#include "Picture.h"
#include "Progress.h"

namespace cstool {

int RunConvert(const Options& options);
int RunPlanes(const Options& options);
int RunPixel(const Options& options);
int RunDemo(const Options& options);

// Prints "colorspace: message" and returns status.
int Fail(const std::string& message, int status = kExitFailure);

// The budget of --max-memory, or of half the machine's memory.
std::uint64_t MemoryBudgetBytes(const Options& options);

// Reads a picture within --max-pixels, taking its memory from `budget` into
// `share` (a lasting share for a picture kept for the whole run), passing
// any note to `progress`; returns an error line.
std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget& budget,
                        MemoryBudget::Share& share, Picture& picture, Progress& progress, bool lasting = false);

// How an output is written: its format, and that format's settings.
struct WriteSettings {
  ImageFormat format = ImageFormat::kPng;
  Compression compression = Compression::kDefault;
  int quality = kDefaultJpegQuality;
  int threads = 1;  // for compressing one large PNG
};
// PNG with the options' compression and quality.
WriteSettings PngSettings(const Options& options);

// Writes through OutputFile (see there), refusing first, with nothing
// written, what the format cannot hold (see RefusalFor; transparency in a
// JPEG or YUV4MPEG2); returns an error line naming `path`.
std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         OutputName name = OutputName::kGiven);
std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             OutputName name = OutputName::kGiven);

// "PATH is the same file as the input INPUT; nothing written" when an
// output is one of the inputs, else nothing.
std::string CheckNotAnInput(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

}  // namespace cstool

// The tool's commands, and what they share.
#pragma once

#include <string>
#include <vector>

#include "shared/CommandLine.h"
#include "shared/MemoryBudget.h"
#include "shared/OutputFile.h"
#include "shared/Picture.h"
#include "shared/Messages.h"

namespace cstool {

int RunConvert(const Options& options);
int RunPlanes(const Options& options);
int RunPixel(const Options& options);
int RunDemo(const Options& options);

// Prints "colorspace: message" and returns status.
int Fail(const std::string& message, int status = kExitFailure);

// The budget of --max-memory, or of half the machine's memory.
std::uint64_t MemoryBudgetBytes(const Options& options);

// Reads a picture within --max-pixels, taking its memory from `memory`,
// passing its notes to `progress`; returns an error line.
std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget::Account& memory,
                        Picture& picture, Progress& progress);

// PNG with the options' compression and quality.
WriteSettings PngSettings(const Options& options);

// Writes through OutputFile (see there), refusing first, with nothing
// written, what the format cannot hold (see RefusalFor; transparency in a
// JPEG or YUV4MPEG2), and leaving out with a note the metadata it cannot
// hold (see KeptMetadata); the writer's memory comes from `memory` (none:
// no limit). Returns an error line naming `path`.
std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         Progress& progress, MemoryBudget::Account* memory = nullptr,
                         OutputName name = OutputName::kGiven);
std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             Progress& progress, MemoryBudget::Account* memory = nullptr,
                             OutputName name = OutputName::kGiven);

// "PATH is the same file as the input INPUT; nothing written" when an
// output is one of the inputs, else nothing.
std::string CheckNotAnInput(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

}  // namespace cstool

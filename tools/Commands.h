// The tool's commands, and what they share.
#pragma once

#include <string>

#include "CommandLine.h"
#include "Picture.h"
#include "Progress.h"

namespace cstool {

int RunConvert(const Options& options);
int RunPlanes(const Options& options);
int RunPixel(const Options& options);
int RunDemo(const Options& options);

// Prints "colorspace: message" and returns status.
int Fail(const std::string& message, int status = kExitFailure);

// Reads a picture, passing any note to `progress`; returns an error line.
std::string ReadPicture(const std::string& path, std::uint64_t maxPixels, Picture& picture, Progress& progress);

// Writes through OutputFile (see there); returns an error line naming `path`.
std::string WritePicture(const std::string& path, const Picture& picture, Compression compression);
std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, Compression compression);

}  // namespace cstool

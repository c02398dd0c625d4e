// The list of formats. Each format defines its row at the end of its own
// file.
#include "formats/Formats.h"

namespace cstool {

extern const Format kPngFormat;
extern const Format kJpegFormat;
extern const Format kY4mFormat;
extern const Format kRawFormat;

namespace {

// In the order the help, the README and messages list them.
constinit const FormatRow kFormats[] = {kPngFormat, kJpegFormat, kY4mFormat, kRawFormat};

}  // namespace

std::span<const FormatRow> AllFormats() { return kFormats; }
const Format& PngFormat() { return kPngFormat; }

}  // namespace cstool

#include "formats/jpeg/JpegFormat.h"

#include "formats/Formats.h"

namespace cstool {
namespace {

constexpr Named<std::uint64_t> kJpegHelpNumbers[] = {
    {"quality", kDefaultJpegQuality}, {"full-chroma-quality", kFullChromaQuality}, {"max-scans", kMaxJpegScans}};

}  // namespace

extern constinit const Format kJpegFormat{
    .name = "jpeg",
    .title = "JPEG",
    .suffixes = ".jpg .jpeg",
    .help =
        "rgb results for viewing, with the ICC profile, EXIF and density; colour kept at every pixel (4:4:4) from "
        "quality {full-chroma-quality}, sampled 4:2:0 below",
    .signature = std::string_view("\xFF\xD8\xFF", 3),
    .openReader = OpenJpegReader,
    .openWriter = NewWriter<PictureWriter<WriteJpeg>>,
    .writeGrey = WriteGreyJpeg,
    .models = kHoldsRgb,
    .modelsWhy = "its decoder turns what it holds into RGB",
    .metadata = kIccProfile | kDensity | kExif,
    .maxIccBytes = kMaxJpegIccBytes,
    .maxExifBytes = kMaxJpegExifBytes,
    .writeOptions = "--quality",
    .helpNumbers = kJpegHelpNumbers,
};

}  // namespace cstool

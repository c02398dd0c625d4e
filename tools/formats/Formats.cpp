// The table of formats, one row each, and what is done by going through
// the rows.
#include "formats/Formats.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <sstream>
#include <utility>
#include <vector>

#include "shared/OutputFile.h"

namespace cstool {

// Each format's reader and writers, in its own folder.
std::unique_ptr<FrameReader> OpenPngReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::unique_ptr<FrameWriter> OpenPngWriter(std::FILE* stream);
std::string WriteGreyPng(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);
std::unique_ptr<FrameReader> OpenJpegReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::unique_ptr<FrameWriter> OpenJpegWriter(std::FILE* stream);
std::string WriteGreyJpeg(std::FILE* stream, const GreyPicture& picture, const WriteContext& context);
std::unique_ptr<FrameReader> OpenY4mReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::unique_ptr<FrameWriter> OpenY4mWriter(std::FILE* stream);
std::unique_ptr<FrameReader> OpenRawReader(InputFile& input, const ReadOptions& options, ReadResult& result);
std::unique_ptr<FrameWriter> OpenRawWriter(std::FILE* stream);

namespace {

constexpr unsigned kHoldsEveryModel = kHoldsRgb | kHoldsYuv | kHoldsYCbCr | kHoldsMixed;
constexpr unsigned kPlanar =
    SamplingFlag(SamplingChoice::k444) | SamplingFlag(SamplingChoice::k422) | SamplingFlag(SamplingChoice::k420);

const Format kFormats[] = {
    {"png", "PNG", ".png",
     "any result, with alpha and metadata; the model (and a mask's selection) is recorded, so the way back needs no "
     "--from",
     std::string_view("\x89PNG\r\n\x1a\n", 8), OpenPngReader, OpenPngWriter, WriteGreyPng, kHoldsEveryModel, true,
     kEveryMetadataKind, UINT64_MAX, UINT64_MAX, false, SamplingFlag(SamplingChoice::k444), "", "--compression"},
    {"jpeg", "JPEG", ".jpg .jpeg",
     "rgb results for viewing, with the ICC profile, EXIF and density; colour kept at every pixel (4:4:4) from "
     "quality {full-chroma-quality}, sampled 4:2:0 below",
     std::string_view("\xFF\xD8\xFF", 3), OpenJpegReader, OpenJpegWriter, WriteGreyJpeg, kHoldsRgb, false,
     kIccProfile | kDensity | kExif, kMaxJpegIccBytes, kMaxJpegExifBytes, false, SamplingFlag(SamplingChoice::k444),
     "its decoder turns what it holds into RGB", "--quality"},
    {"y4m", "YUV4MPEG2", ".y4m",
     "yuv or ycbcr video frames for video tools: 8-bit planes sampled 4:4:4, 4:2:2 or 4:2:0 (--sampling), "
     "XCOLORRANGE=FULL for yuv, LIMITED for ycbcr",
     std::string_view("YUV4MPEG2 ", 10), OpenY4mReader, OpenY4mWriter, nullptr, kHoldsYuv | kHoldsYCbCr, false, 0, 0, 0,
     true, kPlanar, "its frames hold luma and colour-difference planes", "--sampling --chroma-siting --fps"},
    {"raw", "raw .yuv", ".yuv",
     "yuv or ycbcr frames as bare planes, Y then U then V (or UV interleaved, --sampling nv12), with no header: "
     "reading needs --input-size, --input-sampling and --from",
     std::string_view(), OpenRawReader, OpenRawWriter, nullptr, kHoldsYuv | kHoldsYCbCr, false, 0, 0, 0, true,
     kPlanar | SamplingFlag(SamplingChoice::kNv12), "its frames hold luma and colour-difference planes",
     "--sampling --chroma-siting"},
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "-", an open descriptor's name, or a device or FIFO already there:
// written as a stream, with no suffix to tell the format. (A socket is
// refused when the output is opened.)
bool IsStreamTarget(const std::string& path) {
  if (path == "-" || DescriptorNamed(path)) return true;
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 &&
         (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

// "png (.png) or y4m (.y4m)": the formats that hold `flag`.
std::string FormatsHolding(unsigned flag) {
  std::vector<std::string> names;
  for (const Format& format : kFormats) {
    if ((format.models & flag) != 0) names.push_back(std::string(format.name) + " (" + format.suffixes + ")");
  }
  return JoinWords(names);
}

// "rgb", "yuv or ycbcr": the models a format holds, each after `prefix`.
std::string ModelsHeld(const Format& format, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const Model model : kEveryModel) {
    if ((format.models & HeldFlagOf(model)) != 0) names.push_back(prefix + NameOf(model));
  }
  return JoinWords(names);
}

}  // namespace

bool Shapes(const Format& format, const std::string& option) {
  const std::string list = std::string(" ") + format.shapedBy + " ";
  return list.find(" " + option + " ") != std::string::npos;
}

unsigned HeldFlagOf(Model model) { return 1U << static_cast<unsigned>(model); }

const char* SamplingName(SamplingChoice choice) {
  static const char* const kNames[] = {"444", "422", "420", "nv12"};
  return kNames[static_cast<unsigned>(choice)];
}

PlaneLayout LayoutOf(SamplingChoice choice, ChromaSiting siting) {
  switch (choice) {
    case SamplingChoice::k422:
      return {ChromaSampling::k422, ChromaSiting::kLeft, false};
    case SamplingChoice::k420:
      return {ChromaSampling::k420, siting, false};
    case SamplingChoice::kNv12:
      return {ChromaSampling::k420, siting, true};
    default:
      return {ChromaSampling::k444, ChromaSiting::kCenter, false};
  }
}

std::span<const Format> AllFormats() { return kFormats; }
const Format& PngFormat() { return kFormats[0]; }

namespace {

// The format whose suffixes include `suffix` (".jpg", in lower case).
const Format* FormatWithSuffix(const std::string& suffix) {
  for (const Format& format : kFormats) {
    std::istringstream suffixes(format.suffixes);
    std::string known;
    while (suffixes >> known) {
      if (suffix == known) return &format;
    }
  }
  return nullptr;
}

}  // namespace

const Format* FormatNamed(const std::string& name) {
  const std::string lower = Lower(name);
  for (const Format& format : kFormats) {
    if (lower == format.name) return &format;
  }
  return FormatWithSuffix("." + lower);  // a suffix names its format too: --format jpg
}

const Format* FormatBySuffix(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return nullptr;
  return FormatWithSuffix(Lower(path.substr(dot)));
}

std::string SuffixOf(const Format& format) {
  const std::string suffixes = format.suffixes;
  return suffixes.substr(0, suffixes.find(' '));
}

std::string FormatList() {
  std::string list;
  for (const Format& format : kFormats) {
    if (!list.empty()) list += ", ";
    list += std::string(format.name) + " (" + format.suffixes + ")";
  }
  return list;
}

std::string ChooseFormat(const std::string& path, const std::string& formatOption, const Format*& format) {
  const Format* bySuffix = FormatBySuffix(path);
  if (!formatOption.empty()) {
    const Format* named = FormatNamed(formatOption);
    if (named == nullptr) return "--format takes one of " + FormatList();
    if (bySuffix != nullptr && bySuffix != named) {
      return path + " is named as " + bySuffix->name + " but --format says " + named->name +
             "; rename the output or leave --format out";
    }
    format = named;
    return {};
  }
  if (bySuffix != nullptr) {
    format = bySuffix;
    return {};
  }
  if (IsStreamTarget(path)) {
    format = &PngFormat();
    return {};
  }
  return "cannot tell which format to write " + path + " in from its name; the formats are " + FormatList() +
         " (--format chooses one for any name)";
}

std::string RefusalFor(const Format& format, const ModelRecord& record, const std::string& path) {
  const std::string why = *format.modelsWhy != '\0' ? std::string(" (") + format.modelsWhy + ")" : std::string();
  if (record.Mixed()) {
    if ((format.models & kHoldsMixed) != 0) return {};
    return std::string("a ") + format.title + " file holds one model" + why +
           ", so a mixed result cannot be written to " + path + ": write " + FormatsHolding(kHoldsMixed) +
           ", which records the models and the selection";
  }
  const Model model = record.model.value_or(Model::kRGB);
  if ((format.models & HeldFlagOf(model)) != 0) return {};
  return std::string("a ") + format.title + " file holds " + ModelsHeld(format) + " pictures" + why + ", so a " +
         NameOf(model) + " result cannot be written to " + path + ": write " + FormatsHolding(HeldFlagOf(model)) +
         ", or convert " + ModelsHeld(format, "--to ");
}

std::string SamplingRefusal(const Format& format, SamplingChoice choice, const std::string& path) {
  if ((format.samplings & SamplingFlag(choice)) != 0) return {};
  std::vector<std::string> held;
  for (const SamplingChoice each :
       {SamplingChoice::k444, SamplingChoice::k422, SamplingChoice::k420, SamplingChoice::kNv12}) {
    if ((format.samplings & SamplingFlag(each)) != 0) held.emplace_back(SamplingName(each));
  }
  return std::string("--sampling ") + SamplingName(choice) + " does not apply to " + path + ": a " + format.title +
         " file is written " + JoinWords(held, ", ", ", ") + " (--sampling chooses for .y4m and .yuv outputs)";
}

unsigned KeptMetadata(const Metadata& metadata, const Format& format, const std::string& path, NoteList& notes) {
  const unsigned present = PresentMetadata(metadata);
  unsigned keep = present & format.metadata;
  std::vector<std::string> leftOut;
  if ((present & kIccProfile) != 0) {
    const std::string space = IccColourSpace(metadata.icc);
    if ((keep & kIccProfile) != 0 && space != "RGB ") {
      leftOut.push_back("the ICC profile (a " + Printable(space.empty() ? std::string("damaged") : space, 4) +
                        " profile, which does not describe a colour picture)");
      keep &= ~kIccProfile;
    } else if ((keep & kIccProfile) != 0 && metadata.icc.size() > format.maxIccBytes) {
      leftOut.push_back("the ICC profile (" + std::to_string(metadata.icc.size()) + " bytes; a " + format.title +
                        " file holds at most " + std::to_string(format.maxIccBytes) + ")");
      keep &= ~kIccProfile;
    }
  }
  if ((keep & kExif) != 0 && metadata.exif.size() > format.maxExifBytes) {
    leftOut.push_back("the EXIF data (" + std::to_string(metadata.exif.size()) + " bytes; a " + format.title +
                      " file holds at most " + std::to_string(format.maxExifBytes) + ")");
    keep &= ~kExif;
  }
  const unsigned unheld = present & ~format.metadata;
  if (unheld != 0) {
    std::string kinds;
    const std::pair<MetadataKind, std::string> names[] = {
        {kIccProfile, "the ICC profile"},
        {kSrgb, "sRGB"},
        {kGamma, "gAMA"},
        {kChromaticities, "cHRM"},
        {kDensity, "the density"},
        {kTexts, std::to_string(metadata.texts.size()) + (metadata.texts.size() == 1 ? " text" : " texts")},
        {kExif, "the EXIF data"},
    };
    for (const auto& [kind, name] : names) {
      if ((unheld & kind) != 0) kinds += (kinds.empty() ? "" : ", ") + name;
    }
    leftOut.push_back(kinds + " (a " + std::string(format.title) + " file has no place for " +
                      (std::popcount(unheld) == 1 && metadata.texts.size() <= 1 ? "it" : "them") + ")");
  }
  if (!leftOut.empty()) {
    std::string line = "left out of " + path + ": ";
    for (std::size_t i = 0; i < leftOut.size(); ++i) line += (i == 0 ? "" : "; ") + leftOut[i];
    notes.Add(line);
  }
  return keep;
}

bool HasTransparency(const Picture& picture) {
  if (!picture.hasAlpha) return false;
  for (std::size_t i = 3; i < picture.bgra.size(); i += 4) {
    if (picture.bgra[i] != 255) return true;
  }
  return false;
}

}  // namespace cstool

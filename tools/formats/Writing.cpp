// Formats by name and suffix, and what is done by going through the rows
// to write: choosing an output's format, refusing what it cannot hold,
// leaving out the metadata it cannot hold.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <utility>
#include <vector>

#include "formats/Formats.h"
#include "shared/OutputFile.h"

namespace cstool {
namespace {

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

// The format whose suffixes include `suffix` (".jpg", in lower case).
const Format* FormatWithSuffix(const std::string& suffix) {
  for (const Format& format : AllFormats()) {
    if (HasWord(format.suffixes, suffix)) return &format;
  }
  return nullptr;
}

unsigned HeldFlagOf(Model model) { return 1U << static_cast<unsigned>(model); }

// "png (.png) or y4m (.y4m)": the formats that hold `flag`.
std::string FormatsHolding(unsigned flag) {
  std::vector<std::string> names;
  for (const Format& format : AllFormats()) {
    if ((format.models & flag) != 0) names.push_back(std::string(format.name) + " (" + format.suffixes + ")");
  }
  return JoinWords(names);
}

// "rgb", "yuv or ycbcr": the models a format holds, each after `prefix`.
std::string ModelsHeld(const Format& format, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const auto& [name, model] : kModelNames) {
    if ((format.models & HeldFlagOf(model)) != 0) names.push_back(prefix + name);
  }
  return JoinWords(names);
}

}  // namespace

const Format* FormatNamed(const std::string& name) {
  const std::string lower = Lower(name);
  for (const Format& format : AllFormats()) {
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

std::string StreamSuffixes() {
  std::vector<std::string> suffixes;
  for (const Format& format : AllFormats()) {
    if (format.manyFrames) suffixes.push_back(SuffixOf(format));
  }
  return JoinWords(suffixes, ", ", ", ");
}

std::string FormatList() {
  std::vector<std::string> formats;
  for (const Format& format : AllFormats()) formats.push_back(std::string(format.name) + " (" + format.suffixes + ")");
  return JoinWords(formats, ", ", ", ");
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
  for (const auto& [name, each] : kSamplingNames) {
    if ((format.samplings & SamplingFlag(each)) != 0) held.emplace_back(name);
  }
  std::vector<std::string> sampled;
  for (const Format& each : AllFormats()) {
    if (HasWord(each.writeOptions, "--sampling")) sampled.push_back(SuffixOf(each));
  }
  return std::string("--sampling ") + SamplingName(choice) + " does not apply to " + path + ": a " + format.title +
         " file is written " + JoinWords(held, ", ", ", ") + " (--sampling chooses for " +
         JoinWords(sampled, ", ", " and ") + " outputs)";
}

unsigned KeptMetadata(const Metadata& metadata, const Format& format, const std::string& path, NoteList& notes) {
  const unsigned present = PresentMetadata(metadata);
  unsigned keep = present & format.metadata;
  std::vector<std::string> leftOut;
  // A kind the format holds, left out of this picture.
  auto leaveOut = [&](MetadataKind kind, const std::string& what) {
    leftOut.push_back(what);
    keep &= ~kind;
  };
  auto tooLarge = [&](const char* what, std::size_t bytes, std::uint64_t most) {
    return std::string(what) + " (" + std::to_string(bytes) + " bytes; a " + format.title + " file holds at most " +
           std::to_string(most) + ")";
  };
  const std::string space = IccColourSpace(metadata.icc);
  if ((keep & kIccProfile) != 0 && space != "RGB ") {
    leaveOut(kIccProfile, "the ICC profile (a " + Printable(space.empty() ? std::string("damaged") : space, 4) +
                              " profile, which does not describe a colour picture)");
  } else if ((keep & kIccProfile) != 0 && metadata.icc.size() > format.maxIccBytes) {
    leaveOut(kIccProfile, tooLarge("the ICC profile", metadata.icc.size(), format.maxIccBytes));
  }
  if ((keep & kExif) != 0 && metadata.exif.size() > format.maxExifBytes) {
    leaveOut(kExif, tooLarge("the EXIF data", metadata.exif.size(), format.maxExifBytes));
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

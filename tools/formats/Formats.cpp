// The table of output formats and what each can hold.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <sstream>
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

const FormatEntry& EntryOf(ImageFormat format) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.format == format) return entry;
  }
  return kFormats[0];
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

}  // namespace

std::optional<ImageFormat> FormatNamed(const std::string& name) {
  const std::string lower = Lower(name);
  for (const FormatEntry& entry : kFormats) {
    if (lower == entry.name) return entry.format;
  }
  if (lower == "jpg") return ImageFormat::kJpeg;
  return std::nullopt;
}

std::optional<ImageFormat> FormatBySuffix(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  const std::string suffix = Lower(path.substr(dot));
  for (const FormatEntry& entry : kFormats) {
    std::istringstream suffixes(entry.suffixes);
    std::string known;
    while (suffixes >> known) {
      if (suffix == known) return entry.format;
    }
  }
  return std::nullopt;
}

const char* NameOf(ImageFormat format) { return EntryOf(format).name; }

std::string SuffixOf(ImageFormat format) {
  const std::string suffixes = EntryOf(format).suffixes;
  return suffixes.substr(0, suffixes.find(' '));
}

std::string FormatList() {
  std::string list;
  for (const FormatEntry& entry : kFormats) {
    if (!list.empty()) list += ", ";
    list += std::string(entry.name) + " (" + entry.suffixes + ")";
  }
  return list;
}

std::string ChooseFormat(const std::string& path, const std::string& formatOption, ImageFormat& format) {
  const std::optional<ImageFormat> bySuffix = FormatBySuffix(path);
  if (!formatOption.empty()) {
    const std::optional<ImageFormat> named = FormatNamed(formatOption);
    if (!named) return "--format takes one of " + FormatList();
    if (bySuffix && *bySuffix != *named) {
      return path + " is named as " + NameOf(*bySuffix) + " but --format says " + NameOf(*named) +
             "; rename the output or leave --format out";
    }
    format = *named;
    return {};
  }
  if (bySuffix) {
    format = *bySuffix;
    return {};
  }
  if (IsStreamTarget(path)) {
    format = ImageFormat::kPng;
    return {};
  }
  return "cannot tell which format to write " + path + " in from its name; the formats are " + FormatList() +
         " (--format chooses one for any name)";
}

std::string RefusalFor(ImageFormat format, const ModelRecord& record, const std::string& path) {
  const Model model = record.model.value_or(Model::kRGB);
  switch (format) {
    case ImageFormat::kJpeg:
      if (record.Mixed()) {
        return "a mixed result cannot be written as JPEG (" + path +
               "): write .png, which records the models and the selection";
      }
      if (model != Model::kRGB) {
        return std::string(
                   "a JPEG holds an RGB picture for viewing (its decoder turns what it holds into RGB), so a ") +
               NameOf(model) + " result cannot be written to " + path +
               ": write .png (which records the model) or .y4m (for video tools), or convert --to rgb";
      }
      return {};
    case ImageFormat::kY4m:
      if (record.Mixed()) {
        return "a mixed result cannot be written as YUV4MPEG2 (" + path +
               "): its frame has one colour range; write .png, which records the models and the selection";
      }
      if (model == Model::kRGB) {
        return "a .y4m file holds yuv or ycbcr planes, so an rgb result cannot be written to " + path +
               ": convert --to yuv or --to ycbcr, or write .png or .jpg";
      }
      return {};
    default:
      return {};
  }
}

unsigned KeptMetadata(const Metadata& metadata, ImageFormat format, const std::string& path, NoteList& notes) {
  const FormatEntry& entry = EntryOf(format);
  const unsigned present = PresentMetadata(metadata);
  unsigned keep = present & entry.metadata;
  std::vector<std::string> leftOut;
  if ((present & kIccProfile) != 0) {
    const std::string space = IccColourSpace(metadata.icc);
    if ((keep & kIccProfile) != 0 && space != "RGB ") {
      leftOut.push_back("the ICC profile (a " + Printable(space.empty() ? std::string("damaged") : space, 4) +
                        " profile, which does not describe a colour picture)");
      keep &= ~kIccProfile;
    } else if ((keep & kIccProfile) != 0 && metadata.icc.size() > entry.maxIccBytes) {
      leftOut.push_back("the ICC profile (" + std::to_string(metadata.icc.size()) + " bytes; a " + entry.title +
                        " file holds at most " + std::to_string(entry.maxIccBytes) + ")");
      keep &= ~kIccProfile;
    }
  }
  if ((keep & kExif) != 0 && metadata.exif.size() > entry.maxExifBytes) {
    leftOut.push_back("the EXIF data (" + std::to_string(metadata.exif.size()) + " bytes; a " + entry.title +
                      " file holds at most " + std::to_string(entry.maxExifBytes) + ")");
    keep &= ~kExif;
  }
  const unsigned unheld = present & ~entry.metadata;
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
    leftOut.push_back(kinds + " (a " + std::string(entry.title) + " file has no place for " +
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

// The table of output formats and what each can hold.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "ImageFile.h"

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

// A device, a FIFO or a socket already there: written as a stream.
bool IsStreamTarget(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
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
  if (path == "-" || IsStreamTarget(path)) {
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

bool HasTransparency(const Picture& picture) {
  if (!picture.hasAlpha) return false;
  for (std::size_t i = 3; i < picture.bgra.size(); i += 4) {
    if (picture.bgra[i] != 255) return true;
  }
  return false;
}

}  // namespace cstool

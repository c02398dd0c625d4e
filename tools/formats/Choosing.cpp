// Formats by name and suffix, and the format an output is written in.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

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

}  // namespace cstool

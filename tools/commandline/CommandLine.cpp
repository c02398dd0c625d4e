#include "commandline/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "formats/ChromaSampling.h"
#include "formats/png/PngCompression.h"

namespace cstool {
namespace {

// The values of --chroma-siting and pixel's --format; other options' values
// are named where they mean something (models, samplings, compressions).
constexpr Named<ChromaSiting> kSitings[] = {{"center", ChromaSiting::kCenter}, {"left", ChromaSiting::kLeft}};
constexpr Named<PixelFormat> kPixelFormats[] = {
    {"text", PixelFormat::kText}, {"hex", PixelFormat::kHex}, {"csv", PixelFormat::kCsv}};

// "--NAME takes a, b or c".
template <typename T, std::size_t N>
std::string ChoiceOf(const std::string& option, const Named<T> (&table)[N], const std::string& value, T& into) {
  const std::optional<T> found = ValueNamed(table, value);
  if (!found) return option + " takes " + JoinWords(NamesOf(table), ", ", " or ");
  into = *found;
  return {};
}

// The same, for an option formats take: the value is kept among the
// options given.
template <typename T, std::size_t N>
std::string GivenChoice(const std::string& option, const Named<T> (&table)[N], const std::string& value,
                        Options& options) {
  T chosen{};
  std::string error = ChoiceOf(option, table, value, chosen);
  if (error.empty()) options.given.Set(option, chosen);
  return error;
}

template <const auto& kTable>
std::vector<std::string> ChoicesOf(const CommandInfo& /*command*/) {
  return NamesOf(kTable);
}

// The applying of a flag, and of an option whose value is kept as given.
template <bool Options::*kField>
std::string Flag(const std::string& /*value*/, Options& options) {
  options.*kField = true;
  return {};
}
template <std::string Options::*kField>
std::string Text(const std::string& value, Options& options) {
  options.*kField = value;
  return {};
}

// Model names ignore case on the command line (files record them in
// lower case).
std::string ModelValue(const std::string& option, const std::string& value, std::optional<Model>& into) {
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  into = ParseModel(lower);
  return into ? std::string()
              : "unknown colour model '" + value + "' for " + option + " (use " +
                    JoinWords(NamesOf(kModelNames), ", ", " or ") + ")";
}

std::optional<std::uint64_t> PositiveNumber(const std::string& text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value == 0) return std::nullopt;
  return value;
}

std::string MaxMemoryValue(const std::string& value, Options& options) {
  std::string digits = value;
  std::uint64_t unit = 1;
  const char suffix = digits.empty() ? '\0' : digits.back();
  if (suffix == 'K' || suffix == 'M' || suffix == 'G') {
    unit = std::uint64_t{1} << (suffix == 'K' ? 10 : suffix == 'M' ? 20 : 30);
    digits.pop_back();
  }
  const auto amount = PositiveNumber(digits);
  if (!amount || *amount > UINT64_MAX / unit) return "--max-memory takes a positive number of bytes, or of K, M or G";
  options.maxMemory = *amount * unit;
  return {};
}

// The formats a command writes.
std::vector<std::string> FormatNames(const CommandInfo& command) {
  std::vector<std::string> names;
  for (const Format& format : AllFormats()) {
    if (command.writes != nullptr && command.writes(format)) names.emplace_back(format.name);
  }
  return names;
}

const OptionInfo kOptions[] = {
    {"--to", "MODEL", ChoicesOf<kModelNames>, "convert pixel", "the model to convert to: rgb, yuv or ycbcr (any case)",
     [](const std::string& v, Options& o) { return ModelValue("--to", v, o.to); }},
    {"--from", "MODEL", ChoicesOf<kModelNames>, "convert planes pixel",
     "the input's model, for files that do not record it (default rgb); must agree with a recorded model",
     [](const std::string& v, Options& o) { return ModelValue("--from", v, o.from); }},
    {"--model", "MODEL", ChoicesOf<kModelNames>, "planes",
     "yuv or ycbcr: what an RGB picture is shown in (default yuv)",
     [](const std::string& v, Options& o) { return ModelValue("--model", v, o.model); }},
    {"--exact", nullptr, nullptr, "convert pixel",
     "convert by the exact path instead of the fast one. {fast-path} {exact-path}", Flag<&Options::exact>},
    {"--mask", "MASK", nullptr, "convert",
     "convert exactly only the pixels the mask selects: a mask is an rgb picture (one recorded as yuv, ycbcr or "
     "mixed, or a YUV4MPEG2 file, is refused), and a mask pixel selects when it is not black and not fully "
     "transparent (its brightest of red, green and blue above --mask-threshold, alpha not zero). The output records "
     "that it is mixed and keeps the selection; converting it back without --mask uses that selection. A mask that "
     "selects nothing is refused. Given again for a mixed file whose selection chunk another program dropped, it "
     "restores the selection.",
     Text<&Options::mask>, Completion::kFile},
    {"--mask-threshold", "N", nullptr, "convert",
     "0 to 254 (default 0: any pixel not black selects); a JPEG mask's noise near black selects too, so a note "
     "suggests {jpeg-mask-threshold} for one",
     [](const std::string& v, Options& o) {
       const auto threshold = v == "0" ? std::optional<std::uint64_t>(0) : PositiveNumber(v);
       if (!threshold || *threshold > 254) return std::string("--mask-threshold takes a number from 0 to 254");
       o.maskThreshold = static_cast<int>(*threshold);
       return std::string();
     }},
    {"--forget-selection", nullptr, nullptr, "convert",
     "for a mixed file whose selection chunk was dropped: forget its record, and take it as --from says",
     Flag<&Options::forgetSelection>},
    {"--out-dir", "DIR", nullptr, "convert",
     "write DIR/NAME.png (or the suffix of --format) for each input; DIR is made if it is missing, but not its "
     "parent",
     Text<&Options::outDir>, Completion::kDirectory},
    {"--format", "", FormatNames, "convert planes",
     "the output's format, for '-', devices and names without a known suffix (default for '-', devices and FIFOs: "
     "png); it must agree with a known suffix",
     [](const std::string& v, Options& o) {
       if (FormatNamed(v) == nullptr) return "--format takes one of " + FormatList();
       o.imageFormat = v;
       return std::string();
     }},
    {"--format", "", ChoicesOf<kPixelFormats>, "pixel", "how the colour is printed (default text)",
     [](const std::string& v, Options& o) { return ChoiceOf("--format", kPixelFormats, v, o.format); }},
    {"--quality", "N", nullptr, nullptr, "JPEG quality, 1 to 100 (default {quality})",
     [](const std::string& v, Options& o) {
       const auto quality = PositiveNumber(v);
       if (!quality || *quality > 100) return std::string("--quality takes a number from 1 to 100");
       o.given.Set("--quality", static_cast<int>(*quality));
       return std::string();
     }},
    {"--jobs", "N", nullptr, "convert",
     "convert N files at a time (default: one per processor); one file alone of {slice-mib} MiB or more is "
     "compressed in as many PNG slices at once as there are threads, at most one per {slice-rows} rows, where the "
     "memory budget holds them",
     [](const std::string& v, Options& o) {
       const auto jobs = PositiveNumber(v);
       if (!jobs || *jobs > 256) return std::string("--jobs takes a number from 1 to 256");
       o.jobs = static_cast<int>(*jobs);
       return std::string();
     }},
    {"--compression", "", ChoicesOf<kCompressionNames>, nullptr,
     "PNG compression: fast (level 1, run-length, Sub filter); default: measures, compressing a sample of "
     "{sample-rows} rows both ways, and takes the thorough setting (level 6, adaptive filters) only where it saves "
     "at least {saving}% of the fast one's size (photographs come out fast, screenshots and drawings thorough); best "
     "(level 9, adaptive filters)",
     [](const std::string& v, Options& o) { return GivenChoice("--compression", kCompressionNames, v, o); }},
    {"--sampling", "", ChoicesOf<kSamplingNames>, nullptr,
     "how a .y4m or .yuv output's chroma is sampled (default 444, every pixel): 422 halves it across, 420 across and "
     "down (the filter matches --chroma-siting), nv12 is 420 with U and V interleaved (.yuv only)",
     [](const std::string& v, Options& o) { return GivenChoice("--sampling", kSamplingNames, v, o); }},
    {"--chroma-siting", "", ChoicesOf<kSitings>, nullptr,
     "where 4:2:0 chroma sits, in a stream written (C420jpeg or C420mpeg2) or in raw planes read: center, between "
     "four pixels (the default, as pictures have it), or left, beside the even column (as MPEG-2 and H.264 video "
     "have it)",
     [](const std::string& v, Options& o) { return GivenChoice("--chroma-siting", kSitings, v, o); }},
    {"--fps", "N[:D]", nullptr, nullptr,
     "the frame rate of a stream written: N frames per D seconds (default: the input stream's, else {fps})",
     [](const std::string& v, Options& o) {
       const std::size_t colon = v.find(':');
       const auto numerator = PositiveNumber(v.substr(0, colon));
       const auto denominator =
           colon == std::string::npos ? std::optional<std::uint64_t>(1) : PositiveNumber(v.substr(colon + 1));
       if (!numerator || !denominator || *numerator > UINT32_MAX || *denominator > UINT32_MAX) {
         return std::string("--fps takes N or N:D, positive whole numbers");
       }
       o.given.Set("--fps",
                   FrameRate{static_cast<std::uint32_t>(*numerator), static_cast<std::uint32_t>(*denominator)});
       return std::string();
     }},
    {"--input-size", "WxH", nullptr, nullptr,
     "the size of the frames of raw planes read (a .yuv input, or '-' with these options)",
     [](const std::string& v, Options& o) {
       const std::size_t x = v.find('x');
       const auto width = x == std::string::npos ? std::nullopt : PositiveNumber(v.substr(0, x));
       const auto height = x == std::string::npos ? std::nullopt : PositiveNumber(v.substr(x + 1));
       if (!width || !height || *width > kMaxPictureSide || *height > kMaxPictureSide) {
         return std::string("--input-size takes WxH, as 1920x1080");
       }
       o.given.Set("--input-size", std::pair(static_cast<std::uint32_t>(*width), static_cast<std::uint32_t>(*height)));
       return std::string();
     }},
    {"--input-sampling", "", ChoicesOf<kSamplingNames>, nullptr,
     "how the chroma of raw planes read is sampled (--chroma-siting tells where 4:2:0 chroma sits)",
     [](const std::string& v, Options& o) { return GivenChoice("--input-sampling", kSamplingNames, v, o); }},
    {"--max-pixels", "N", nullptr, "convert planes",
     "refuse inputs larger than N pixels from their header, before reading on (default {max-pixels})",
     [](const std::string& v, Options& o) {
       const auto limit = PositiveNumber(v);
       if (!limit) return std::string("--max-pixels takes a positive number of pixels");
       o.maxPixels = *limit;
       return std::string();
     }},
    {"--max-memory", "N[K|M|G]", nullptr, "convert planes",
     "the memory all jobs together may take (default: half of the machine's); a file that does not fit waits for "
     "others to finish, one that never could is refused",
     MaxMemoryValue},
    {"--help", nullptr, nullptr, "convert planes pixel demo", "print this help", Flag<&Options::help>},
};

}  // namespace

std::span<const OptionInfo> AllOptions() { return kOptions; }

bool Takes(const OptionInfo& option, const CommandInfo& command) {
  if (option.commands != nullptr) return HasWord(option.commands, command.name);
  for (const Format& format : AllFormats()) {
    if (command.writes != nullptr && command.writes(format) && HasWord(format.writeOptions, option.name)) return true;
    if (command.reads && HasWord(format.readOptions, option.name)) return true;
  }
  return false;
}

std::string ValueWord(const OptionInfo& option, const CommandInfo& command) {
  if (option.value == nullptr) return {};
  if (*option.value != '\0') return option.value;
  return JoinWords(option.choices(command), "|", "|");
}

std::string Spelled(const OptionInfo& option, const CommandInfo& command) {
  const std::string value = ValueWord(option, command);
  return value.empty() ? std::string(option.name) : std::string(option.name) + " " + value;
}

const CommandInfo* FindCommand(CommandTable commands, const std::string& name) {
  for (const CommandInfo& command : commands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string ParseCommandLine(const CommandInfo& command, int argc, char** argv, Options& options) {
  options.command = command.name;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      options.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h") {
      options.help = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionInfo* known = nullptr;
    bool named = false;
    for (const OptionInfo& candidate : kOptions) {
      if (name != candidate.name) continue;
      named = true;
      if (Takes(candidate, command)) known = &candidate;
    }
    if (!named) return "unknown option " + name + " (see colorspace " + options.command + " --help)";
    if (known == nullptr) {
      if (options.command == "planes" && name == "--to") return "planes takes the model as --model, not --to";
      return options.command + " does not take " + name;
    }
    std::string value;
    if (known->value != nullptr) {
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return name + " needs a value";
      }
    } else if (equals != std::string::npos) {
      return name + " takes no value";
    }
    const std::string error = known->apply(value, options);
    if (!error.empty()) return error;
    if (!options.given.Given(name)) options.given.Set(name);  // a flag, or an option the commands read
  }
  return {};
}

}  // namespace cstool

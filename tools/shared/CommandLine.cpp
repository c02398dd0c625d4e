#include "shared/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "formats/ChromaSampling.h"
#include "formats/jpeg/JpegSettings.h"
#include "formats/png/PngCommon.h"
#include "formats/png/PngCompression.h"

namespace cstool {
namespace {

// The values of the options that take one of a few, each named once.
template <typename T>
struct Named {
  const char* name;
  T value;
};
constexpr Named<Compression> kCompressions[] = {
    {"fast", Compression::kFast}, {"default", Compression::kDefault}, {"best", Compression::kBest}};
constexpr Named<SamplingChoice> kSamplings[] = {{"444", SamplingChoice::k444},
                                                {"422", SamplingChoice::k422},
                                                {"420", SamplingChoice::k420},
                                                {"nv12", SamplingChoice::kNv12}};
constexpr Named<ChromaSiting> kSitings[] = {{"center", ChromaSiting::kCenter}, {"left", ChromaSiting::kLeft}};
constexpr Named<PixelFormat> kPixelFormats[] = {
    {"text", PixelFormat::kText}, {"hex", PixelFormat::kHex}, {"csv", PixelFormat::kCsv}};

template <typename T, std::size_t N>
std::vector<std::string> NamesOf(const Named<T> (&table)[N]) {
  std::vector<std::string> names;
  for (const Named<T>& entry : table) names.emplace_back(entry.name);
  return names;
}

template <typename T, std::size_t N>
std::optional<T> Lookup(const Named<T> (&table)[N], const std::string& name) {
  for (const Named<T>& entry : table) {
    if (name == entry.name) return entry.value;
  }
  return std::nullopt;
}

// "--NAME takes a, b or c".
template <typename T, std::size_t N>
std::string ChoiceOf(const std::string& option, const Named<T> (&table)[N], const std::string& value, T& into) {
  const std::optional<T> found = Lookup(table, value);
  if (!found) return option + " takes " + JoinWords(NamesOf(table), ", ", " or ");
  into = *found;
  return {};
}

std::vector<std::string> ModelNames(const std::string& /*command*/) {
  std::vector<std::string> names;
  for (const Model model : kEveryModel) names.emplace_back(NameOf(model));
  return names;
}

// Model names ignore case on the command line (files record them in
// lower case).
std::string ModelValue(const std::string& option, const std::string& value, std::optional<Model>& into) {
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  into = ParseModel(lower);
  return into ? std::string()
              : "unknown colour model '" + value + "' for " + option + " (use " +
                    JoinWords(ModelNames(""), ", ", " or ") + ")";
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

// The formats a command writes: the planes command writes grey pictures.
std::vector<std::string> FormatNames(const std::string& command) {
  std::vector<std::string> names;
  for (const Format& format : AllFormats()) {
    if (command != "planes" || format.writeGrey != nullptr) names.emplace_back(format.name);
  }
  return names;
}

// What the shell offers after an option.
enum class Completion { kNothing, kFile, kDirectory, kChoices };

struct OptionInfo {
  const char* name;
  const char* value;  // the word for what it takes ("N", "DIR"); "": its choices; nullptr: a flag
  std::vector<std::string> (*choices)(const std::string& command);  // the values it takes, where they are few
  const char* commands;                                             // space-separated
  const char* help;                                                 // one paragraph, with {values}
  std::string (*apply)(const std::string& value, Options& options);
  Completion completion;
};

const OptionInfo kOptions[] = {
    {"--to", "MODEL", ModelNames, "convert pixel", "the model to convert to: rgb, yuv or ycbcr (any case)",
     [](const std::string& v, Options& o) { return ModelValue("--to", v, o.to); }, Completion::kChoices},
    {"--from", "MODEL", ModelNames, "convert planes pixel",
     "the input's model, for files that do not record it (default rgb); must agree with a recorded model",
     [](const std::string& v, Options& o) { return ModelValue("--from", v, o.from); }, Completion::kChoices},
    {"--model", "MODEL", ModelNames, "planes", "yuv or ycbcr: what an RGB picture is shown in (default yuv)",
     [](const std::string& v, Options& o) { return ModelValue("--model", v, o.model); }, Completion::kChoices},
    {"--exact", nullptr, nullptr, "convert pixel",
     "convert by the exact path instead of the fast one. {fast-path} {exact-path}",
     [](const std::string&, Options& o) {
       o.exact = true;
       return std::string();
     },
     Completion::kNothing},
    {"--mask", "MASK", nullptr, "convert",
     "convert exactly only the pixels the mask selects: a mask is an rgb picture (one recorded as yuv, ycbcr or "
     "mixed, or a YUV4MPEG2 file, is refused), and a mask pixel selects when it is not black and not fully "
     "transparent (its brightest of red, green and blue above --mask-threshold, alpha not zero). The output records "
     "that it is mixed and keeps the selection; converting it back without --mask uses that selection. A mask that "
     "selects nothing is refused. Given again for a mixed file whose selection chunk another program dropped, it "
     "restores the selection.",
     [](const std::string& v, Options& o) {
       o.mask = v;
       return std::string();
     },
     Completion::kFile},
    {"--mask-threshold", "N", nullptr, "convert",
     "0 to 254 (default 0: any pixel not black selects); a JPEG mask's noise near black selects too, so a note "
     "suggests {jpeg-mask-threshold} for one",
     [](const std::string& v, Options& o) {
       const bool zero = v == "0";
       const auto threshold = PositiveNumber(v);
       if (!zero && (!threshold || *threshold > 254)) {
         return std::string("--mask-threshold takes a number from 0 to 254");
       }
       o.maskThreshold = zero ? 0 : static_cast<int>(*threshold);
       return std::string();
     },
     Completion::kNothing},
    {"--forget-selection", nullptr, nullptr, "convert",
     "for a mixed file whose selection chunk was dropped: forget its record, and take it as --from says",
     [](const std::string&, Options& o) {
       o.forgetSelection = true;
       return std::string();
     },
     Completion::kNothing},
    {"--out-dir", "DIR", nullptr, "convert",
     "write DIR/NAME.png (or the suffix of --format) for each input; DIR is made if it is missing, but not its "
     "parent",
     [](const std::string& v, Options& o) {
       o.outDir = v;
       return std::string();
     },
     Completion::kDirectory},
    {"--format", "", FormatNames, "convert planes",
     "the output's format, for '-', devices and names without a known suffix (default for '-', devices and FIFOs: "
     "png); it must agree with a known suffix",
     [](const std::string& v, Options& o) {
       if (FormatNamed(v) == nullptr) return "--format takes one of " + FormatList();
       o.imageFormat = v;
       return std::string();
     },
     Completion::kChoices},
    {"--format", "", [](const std::string&) { return NamesOf(kPixelFormats); }, "pixel",
     "how the colour is printed (default text)",
     [](const std::string& v, Options& o) { return ChoiceOf("--format", kPixelFormats, v, o.format); },
     Completion::kChoices},
    {"--quality", "N", nullptr, "convert planes", "JPEG quality, 1 to 100 (default {quality})",
     [](const std::string& v, Options& o) {
       const auto quality = PositiveNumber(v);
       if (!quality || *quality > 100) return std::string("--quality takes a number from 1 to 100");
       o.quality = static_cast<int>(*quality);
       return std::string();
     },
     Completion::kNothing},
    {"--jobs", "N", nullptr, "convert",
     "convert N files at a time (default: one per processor); one file alone of {slice-mib} MiB or more is "
     "compressed in as many PNG slices at once as there are threads, at most one per {slice-rows} rows, where the "
     "memory budget holds them",
     [](const std::string& v, Options& o) {
       const auto jobs = PositiveNumber(v);
       if (!jobs || *jobs > 256) return std::string("--jobs takes a number from 1 to 256");
       o.jobs = static_cast<int>(*jobs);
       return std::string();
     },
     Completion::kNothing},
    {"--compression", "", [](const std::string&) { return NamesOf(kCompressions); }, "convert planes demo",
     "PNG compression: fast (level 1, run-length, Sub filter); default: measures, compressing a sample of "
     "{sample-rows} rows both ways, and takes the thorough setting (level 6, adaptive filters) only where it saves "
     "at least {saving}% of the fast one's size (photographs come out fast, screenshots and drawings thorough); best "
     "(level 9, adaptive filters)",
     [](const std::string& v, Options& o) { return ChoiceOf("--compression", kCompressions, v, o.compression); },
     Completion::kChoices},
    {"--sampling", "", [](const std::string&) { return NamesOf(kSamplings); }, "convert",
     "how a .y4m or .yuv output's chroma is sampled (default 444, every pixel): 422 halves it across, 420 across and "
     "down (the filter matches --chroma-siting), nv12 is 420 with U and V interleaved (.yuv only)",
     [](const std::string& v, Options& o) { return ChoiceOf("--sampling", kSamplings, v, o.sampling); },
     Completion::kChoices},
    {"--chroma-siting", "", [](const std::string&) { return NamesOf(kSitings); }, "convert planes",
     "where 4:2:0 chroma sits, in a stream written (C420jpeg or C420mpeg2) or in raw planes read: center, between "
     "four pixels (the default, as pictures have it), or left, beside the even column (as MPEG-2 and H.264 video "
     "have it)",
     [](const std::string& v, Options& o) { return ChoiceOf("--chroma-siting", kSitings, v, o.siting); },
     Completion::kChoices},
    {"--fps", "N[:D]", nullptr, "convert",
     "the frame rate of a stream written: N frames per D seconds (default: the input stream's, else {fps})",
     [](const std::string& v, Options& o) {
       const std::size_t colon = v.find(':');
       const auto numerator = PositiveNumber(v.substr(0, colon));
       const auto denominator =
           colon == std::string::npos ? std::optional<std::uint64_t>(1) : PositiveNumber(v.substr(colon + 1));
       if (!numerator || !denominator || *numerator > UINT32_MAX || *denominator > UINT32_MAX) {
         return std::string("--fps takes N or N:D, positive whole numbers");
       }
       o.fps = FrameRate{static_cast<std::uint32_t>(*numerator), static_cast<std::uint32_t>(*denominator)};
       return std::string();
     },
     Completion::kNothing},
    {"--input-size", "WxH", nullptr, "convert planes",
     "the size of the frames of raw planes read (a .yuv input, or '-' with these options)",
     [](const std::string& v, Options& o) {
       const std::size_t x = v.find('x');
       const auto width = x == std::string::npos ? std::nullopt : PositiveNumber(v.substr(0, x));
       const auto height = x == std::string::npos ? std::nullopt : PositiveNumber(v.substr(x + 1));
       if (!width || !height || *width > kMaxPngSide || *height > kMaxPngSide) {
         return std::string("--input-size takes WxH, as 1920x1080");
       }
       o.inputSize.emplace(static_cast<std::uint32_t>(*width), static_cast<std::uint32_t>(*height));
       return std::string();
     },
     Completion::kNothing},
    {"--input-sampling", "", [](const std::string&) { return NamesOf(kSamplings); }, "convert planes",
     "how the chroma of raw planes read is sampled (--chroma-siting tells where 4:2:0 chroma sits)",
     [](const std::string& v, Options& o) {
       SamplingChoice choice{};
       const std::string error = ChoiceOf("--input-sampling", kSamplings, v, choice);
       if (error.empty()) o.inputSampling = choice;
       return error;
     },
     Completion::kChoices},
    {"--max-pixels", "N", nullptr, "convert planes",
     "refuse inputs larger than N pixels from their header, before reading on (default {max-pixels})",
     [](const std::string& v, Options& o) {
       const auto limit = PositiveNumber(v);
       if (!limit) return std::string("--max-pixels takes a positive number of pixels");
       o.maxPixels = *limit;
       return std::string();
     },
     Completion::kNothing},
    {"--max-memory", "N[K|M|G]", nullptr, "convert planes",
     "the memory all jobs together may take (default: half of the machine's); a file that does not fit waits for "
     "others to finish, one that never could is refused",
     MaxMemoryValue, Completion::kNothing},
    {"--help", nullptr, nullptr, "convert planes pixel demo", "print this help",
     [](const std::string&, Options& o) {
       o.help = true;
       return std::string();
     },
     Completion::kNothing},
};

const char* const kExitStatusHelp =
    "Exit status: 0 done; 1 a file could not be read, converted or written; 2 a usage error (the command line is "
    "wrong; nothing is written).";

const char* const kProgramOptions[][2] = {
    {"--help", "print this help (colorspace COMMAND --help tells of one command)"},
    {"--version", "print the version"},
    {"--generate WHAT",
     "print a text made from the tool's own tables: man (the manual page colorspace(1)), bash-completion, or the "
     "README's commands-table, formats-table or defaults-table"},
};

bool Takes(const OptionInfo& option, const std::string& command) {
  const std::string list = std::string(" ") + option.commands + " ";
  return list.find(" " + command + " ") != std::string::npos;
}

std::string ValueWord(const OptionInfo& option, const std::string& command) {
  if (option.value == nullptr) return {};
  if (*option.value != '\0') return option.value;
  return JoinWords(option.choices(command), "|", "|");
}

std::string Spelled(const OptionInfo& option, const std::string& command) {
  const std::string value = ValueWord(option, command);
  return value.empty() ? std::string(option.name) : std::string(option.name) + " " + value;
}

// `text` wrapped to 78 columns, every line indented by `indent`, the first
// starting at `column` (the left side already written).
std::string Wrap(const std::string& text, std::size_t indent, std::size_t column) {
  constexpr std::size_t kWidth = 78;
  std::string out;
  std::size_t at = column;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (at > indent && at + 1 + word.size() > kWidth) {
      out += '\n';
      out.append(indent, ' ');
      at = indent;
    } else if (at > indent) {
      out += ' ';
      ++at;
    }
    out += word;
    at += word.size();
    start = end + 1;
  }
  return out + "\n";
}

// A term and its text: the term in a column of `width`, the text beside it.
std::string Item(const std::string& term, const std::string& text, std::size_t width) {
  const std::string left = "  " + term;
  std::string out =
      left.size() + 2 > width ? left + "\n" + std::string(width, ' ') : left + std::string(width - left.size(), ' ');
  return out + Wrap(text, width, width);
}

// A text's paragraphs (split at blank lines), each a list of "TERM\tTEXT"
// lines or plain text.
struct Paragraph {
  std::vector<std::pair<std::string, std::string>> items;  // a list
  std::string text;                                        // or a paragraph
};
std::vector<Paragraph> ParagraphsOf(const std::string& text) {
  std::vector<Paragraph> paragraphs;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\n\n", at);
    if (end == std::string::npos) end = text.size();
    std::string body = text.substr(at, end - at);
    while (!body.empty() && body.back() == '\n') body.pop_back();
    Paragraph paragraph;
    if (body.find('\t') != std::string::npos) {
      std::size_t line = 0;
      while (line < body.size()) {
        std::size_t lineEnd = body.find('\n', line);
        if (lineEnd == std::string::npos) lineEnd = body.size();
        const std::string item = body.substr(line, lineEnd - line);
        const std::size_t tab = item.find('\t');
        paragraph.items.emplace_back(item.substr(0, tab), tab == std::string::npos ? "" : item.substr(tab + 1));
        line = lineEnd + 1;
      }
    } else {
      paragraph.text = body;
    }
    if (!body.empty()) paragraphs.push_back(paragraph);
    at = end + 2;
  }
  return paragraphs;
}

std::string Rendered(const std::string& text) {
  constexpr std::size_t kTermColumn = 18;
  std::string out;
  for (const Paragraph& paragraph : ParagraphsOf(WithValues(text))) {
    if (!out.empty()) out += "\n";
    if (paragraph.items.empty()) {
      out += Wrap(paragraph.text, 0, 0);
    } else {
      for (const auto& [term, item] : paragraph.items) out += Item(term, item, kTermColumn);
    }
  }
  return out;
}

std::string OptionsHelp(const std::string& command) {
  constexpr std::size_t kHelpColumn = 22;
  std::string out;
  for (const OptionInfo& option : kOptions) {
    if (!Takes(option, command) || std::string(option.name) == "--help") continue;
    out += Item(Spelled(option, command), WithValues(option.help), kHelpColumn);
  }
  return out;
}

std::string ProgramHelp(CommandTable commands) {
  std::string out = "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\n\n" +
                    Rendered(
                        "Converts pictures, video frames and single colours between RGB, full-range YUV and "
                        "studio-range YCbCr.") +
                    "\nCommands (colorspace COMMAND --help tells more):\n";
  for (const CommandInfo& command : commands) out += Item(command.name, command.summary, 12);
  out += "\nOptions:\n";
  for (const auto& option : kProgramOptions) out += Item(option[0], option[1], 22);
  return out;
}

// troff for the man page: backslashes and hyphens escaped, no line that a
// formatter would take for a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string RoffParagraphs(const std::string& text) {
  std::string out;
  for (const Paragraph& paragraph : ParagraphsOf(WithValues(text))) {
    if (paragraph.items.empty()) {
      out += ".PP\n" + Roff(paragraph.text) + "\n";
      continue;
    }
    for (const auto& [term, item] : paragraph.items) out += ".TP\n.B " + Roff(term) + "\n" + Roff(item) + "\n";
  }
  return out;
}

}  // namespace

std::string WithValues(const std::string& text) {
  auto value = [](const std::string& name) -> std::string {
    if (name == "formats") {
      std::string list;
      for (const Format& format : AllFormats()) {
        list += std::string(list.empty() ? "" : "\n") + format.name + " (" + format.suffixes + ")\t" +
                WithValues(format.help);
      }
      return list;
    }
    if (name == "upsampling") return kUpsamplingHelp;
    if (name == "downsampling") return kDownsamplingHelp;
    if (name == "max-scans") return std::to_string(kMaxJpegScans);
    if (name == "quality") return std::to_string(kDefaultJpegQuality);
    if (name == "full-chroma-quality") return std::to_string(kFullChromaQuality);
    if (name == "max-pixels") return std::to_string(kDefaultMaxPixels);
    if (name == "slice-mib") return std::to_string(kMinSlicedBytes >> 20);
    if (name == "slice-rows") return std::to_string(kMinSliceRows);
    if (name == "saving") return std::to_string(kThoroughSavingPercent);
    if (name == "sample-rows") return std::to_string(kSampleRows);
    if (name == "jpeg-mask-threshold") return std::to_string(kJpegMaskThreshold);
    if (name == "chunk-mib") return std::to_string(kMaxChunkBytes >> 20);
    if (name == "fps") return std::to_string(FrameRate{}.numerator);
    if (name == "pixel-examples") {
      return "colorspace pixel --to yuv 255 0 0\tY 76 U 85 V 255 #4C55FF\n"
             "colorspace pixel --to ycbcr 128 128 128\tY 126 Cb 128 Cr 128 #7E8080\n"
             "colorspace pixel --to ycbcr --exact 128 128 128\tY 125 Cb 128 Cr 128 #7D8080\n"
             "colorspace pixel --to yuv --exact 255 255 255\tY 255 U 128 V 127 #FF807F\n"
             "colorspace pixel --to rgb --from ycbcr --format hex '#80FFFF'\t#FF00FF\n"
             "colorspace pixel --to yuv --format csv 255 0 0\t76,85,255";
    }
    if (name == "fast-path") {
      return "The fast path (the default) computes every pixel in fixed point: each value within 0.55 of the "
             "formula's, the nearest integer for more than 99.4% of values, and a colour there and back within 2 of "
             "itself.";
    }
    if (name == "exact-path") {
      return "The exact path evaluates the formula with its single-precision coefficients exactly, then truncates "
             "toward zero and clamps: about half the values to yuv or ycbcr (a third back to rgb) are one below "
             "the nearest integer, grey gives V 127, and a colour there and back is within 4 of itself.";
    }
    return "{" + name + "}";
  };
  std::string out;
  std::size_t at = 0;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', at)) {
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    out += text.substr(at, open - at) + value(text.substr(open + 1, close - open - 1));
    at = close + 1;
  }
  return out + text.substr(at);
}

const CommandInfo* FindCommand(CommandTable commands, const std::string& name) {
  for (const CommandInfo& command : commands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string CommandTableMarkdown(CommandTable commands) {
  std::string out = "| Command | What it does | Options |\n|---|---|---|\n";
  for (const CommandInfo& command : commands) {
    std::string options;
    for (const OptionInfo& option : kOptions) {
      if (!Takes(option, command.name)) continue;
      std::string spelled = Spelled(option, command.name);
      for (std::size_t at = spelled.find('|'); at != std::string::npos; at = spelled.find('|', at + 2)) {
        spelled.insert(at, 1, '\\');  // a bar inside a table cell
      }
      options += (options.empty() ? "`" : ", `") + spelled + "`";
    }
    out += std::string("| `") + command.name + "` | " + command.summary + " | " + options + " |\n";
  }
  return out;
}

std::string FormatTableMarkdown() {
  std::string out = "| Format | Suffixes | What it holds |\n|---|---|---|\n";
  for (const Format& format : AllFormats()) {
    std::string suffixes;
    std::size_t at = 0;
    const std::string all = format.suffixes;
    while (at < all.size()) {
      std::size_t end = all.find(' ', at);
      if (end == std::string::npos) end = all.size();
      suffixes += (suffixes.empty() ? "`" : ", `") + all.substr(at, end - at) + "`";
      at = end + 1;
    }
    out += std::string("| `") + format.name + "` | " + suffixes + " | " + WithValues(format.help) + " |\n";
  }
  return out;
}

std::string DefaultsTableMarkdown() {
  const std::pair<const char*, const char*> rows[] = {
      {"`--quality`", "{quality}; colour kept at every pixel (4:4:4) from {full-chroma-quality}, sampled 4:2:0 below"},
      {"`--compression`",
       "default: the thorough setting only where a sample of {sample-rows} rows comes out at least {saving}% smaller"},
      {"`--jobs`",
       "one per processor; one file alone of {slice-mib} MiB or more is compressed in as many PNG slices as there "
       "are threads, at most one per {slice-rows} rows"},
      {"`--max-pixels`", "{max-pixels}, from the header, before the rest is read"},
      {"`--max-memory`", "half of the machine's memory, for everything the files being converted hold"},
      {"`--mask-threshold`", "0 (any pixel not black selects); {jpeg-mask-threshold} suggested for a JPEG mask"},
      {"`--sampling`, `--chroma-siting`", "444; center"},
      {"`--fps`", "the first input stream's, else {fps}"},
      {"JPEG scans", "at most {max-scans}"},
      {"PNG chunks", "at most {chunk-mib} MiB each, but the pixel data"},
  };
  std::string out = "| Setting | Default or limit |\n|---|---|\n";
  for (const auto& [name, value] : rows) out += std::string("| ") + name + " | " + WithValues(value) + " |\n";
  return out;
}

std::string HelpFor(CommandTable commands, const std::string& command) {
  const CommandInfo* info = FindCommand(commands, command);
  if (info == nullptr) return ProgramHelp(commands) + "\n" + Rendered(kExitStatusHelp);
  std::string help = std::string(info->usage) + "\n" + Rendered(info->description) + "\n" + OptionsHelp(command);
  if (*info->notes != '\0') help += "\n" + Rendered(info->notes);
  return help + "\n" + Rendered(kExitStatusHelp);
}

std::string ShortUsage(CommandTable commands) {
  std::string names;
  for (const CommandInfo& command : commands) names += (names.empty() ? "" : ", ") + std::string(command.name);
  return "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\ncommands: " + names + " (colorspace --help tells more)\n";
}

std::string ManPage(CommandTable commands, const std::string& version) {
  std::string out = ".\\\" Made by colorspace --generate man from the tool's own tables.\n";
  out += ".TH COLORSPACE 1 \"\" \"colorspace " + Roff(version) + "\" \"User Commands\"\n";
  out += ".SH NAME\ncolorspace \\- convert pictures, video frames and colours between RGB, YUV and YCbCr\n";
  out += ".SH SYNOPSIS\n.nf\n";
  for (const CommandInfo& command : commands) {
    std::string usage = command.usage;
    std::size_t at = 0;
    while (at < usage.size()) {
      std::size_t end = usage.find('\n', at);
      if (end == std::string::npos) end = usage.size();
      std::string line = usage.substr(at, end - at);
      const std::size_t start = line.find("colorspace");
      if (start != std::string::npos) out += Roff(line.substr(start)) + "\n";
      at = end + 1;
    }
  }
  out += ".fi\n.SH DESCRIPTION\n" +
         Roff(
             "Converts pictures, video frames and single colours between RGB, full-range YUV and studio-range "
             "YCbCr, with the BT.601 matrix.") +
         "\n.SH COMMANDS\n";
  for (const CommandInfo& command : commands) {
    out += ".SS " + std::string(command.name) + "\n" + Roff(command.summary) + ".\n";
    out += RoffParagraphs(command.description);
    for (const OptionInfo& option : kOptions) {
      if (!Takes(option, command.name)) continue;
      const std::string value = ValueWord(option, command.name);
      out += ".TP\n.B " + Roff(option.name) + (value.empty() ? "" : " \\fI" + Roff(value) + "\\fR") + "\n" +
             Roff(WithValues(option.help)) + "\n";
    }
    if (*command.notes != '\0') out += RoffParagraphs(command.notes);
  }
  out += ".SH OPTIONS\n";
  for (const auto& option : kProgramOptions) out += ".TP\n.B " + Roff(option[0]) + "\n" + Roff(option[1]) + "\n";
  out += ".SH FORMATS\n";
  for (const Format& format : AllFormats()) {
    out += ".TP\n.B " + Roff(format.name) + " (" + Roff(format.suffixes) + ")\n" + Roff(WithValues(format.help)) + "\n";
  }
  out += ".SH EXIT STATUS\n" + Roff(kExitStatusHelp) + "\n";
  out += ".SH SEE ALSO\n.BR ffmpeg (1),\n.BR pngcheck (1)\n";
  return out;
}

std::string BashCompletion(CommandTable commands) {
  std::string names;
  for (const CommandInfo& command : commands) names += std::string(names.empty() ? "" : " ") + command.name;
  std::string values;
  std::string flags;
  for (const CommandInfo& command : commands) {
    std::string optionNames;
    for (const OptionInfo& option : kOptions) {
      if (!Takes(option, command.name)) continue;
      optionNames += std::string(optionNames.empty() ? "" : " ") + option.name;
      const std::string pattern = std::string("    ") + command.name + ":" + option.name + ")";
      switch (option.completion) {
        case Completion::kChoices:
          values += pattern + " COMPREPLY=($(compgen -W \"" + JoinWords(option.choices(command.name), " ", " ") +
                    "\" -- \"$cur\")); return ;;\n";
          break;
        case Completion::kFile:
          values += pattern + " COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
          break;
        case Completion::kDirectory:
          values += pattern + " COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n";
          break;
        case Completion::kNothing:
          if (option.value != nullptr) values += pattern + " return ;;\n";
          break;
      }
    }
    flags += std::string("    ") + command.name + ") options=\"" + optionNames + "\" ;;\n";
  }
  return "# bash completion for colorspace: made by colorspace --generate bash-completion from the tool's own\n"
         "# tables.\n"
         "_colorspace() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  local command=${COMP_WORDS[1]} options\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W \"" +
         names +
         " --help --version --generate\" -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  if [ \"$command\" = --generate ]; then\n"
         "    COMPREPLY=($(compgen -W \"man bash-completion commands-table formats-table defaults-table\" -- "
         "\"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  case \"$command:$prev\" in\n" +
         values +
         "  esac\n"
         "  case \"$command\" in\n" +
         flags +
         "    *) return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "  elif [ \"$command\" != pixel ]; then\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -o bashdefault -F _colorspace colorspace\n";
}

std::string ParseCommandLine(int argc, char** argv, Options& options) {
  options.command = argv[1];
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
      if (Takes(candidate, options.command)) known = &candidate;
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
    options.given.insert(name);
  }
  return {};
}

}  // namespace cstool

#include "shared/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "commands/Commands.h"
#include "formats/ChromaSampling.h"
#include "formats/jpeg/JpegSettings.h"

namespace cstool {
namespace {

// The whole command line is declared here once: each command and each
// option, with its help. Parsing, the help texts and the README's table
// (checked by a test) are made from these two tables.

struct CommandInfo {
  const char* name;
  const char* summary;      // one line for the program's help
  const char* usage;        // the usage lines
  const char* description;  // before the options
  const char* notes;        // after the options, or ""
  int (*run)(const Options&);
};

// Help texts are paragraphs, wrapped when shown; a paragraph of lines
// "TERM\tTEXT" is a list, each TEXT wrapped beside its TERM. {name} stands
// for a value the tool declares elsewhere (see HelpValue).
const CommandInfo kCommands[] = {
    {"convert", "convert pictures and video frames; the output's name chooses its format",
     "usage: colorspace convert --to MODEL [OPTIONS] INPUT OUTPUT\n"
     "       colorspace convert --to MODEL [OPTIONS] INPUT... STREAM|SEQUENCE\n"
     "       colorspace convert --to MODEL [OPTIONS] --out-dir DIR INPUT...\n",
     "Converts pictures and video frames between rgb, yuv (full range) and ycbcr (studio range), with the BT.601 "
     "matrix; yuv and ycbcr convert through rgb, rounding twice (see --exact). The output's name chooses its "
     "format:\n\n"
     "{formats}\n\n"
     "A result a format cannot hold is refused before anything is written, and so is any other name (--format "
     "chooses a format for any name).\n\n"
     "Frames: a YUV4MPEG2 or raw input may hold many frames, converted one at a time with one frame in memory, "
     "from a file or a pipe. Several inputs with one stream output (.y4m, .yuv, or '-' with --format y4m) make one "
     "stream, frames in the order given, all of one size. An output name with a frame number, as frames/%04d.png "
     "(%d, %Nd or %0Nd; %% is a %), writes a picture a frame, the first numbered 1. A stream cut short keeps the "
     "frames before the cut, and the run ends with status 1.\n\n"
     "YUV4MPEG2 is read in C444, C422, C420jpeg (and C420), C420mpeg2, C420paldv and Cmono, 8 bits a sample; "
     "other tags are refused by name. XCOLORRANGE=FULL is read as yuv, LIMITED as ycbcr, and a stream that does "
     "not say is taken as ycbcr, as video tools take it, with a note (--from yuv reads it as full range). Reduced "
     "chroma is brought to every pixel by bilinear interpolation at the positions the tag states, in integers "
     "rounded half up once: {upsampling} Chroma written 4:2:2 or 4:2:0 is reduced by a filter that matches the "
     "siting, rounded half up once: {downsampling} Interlaced 4:2:0 (It, Ib) is refused; the interlacing of 4:4:4 "
     "and 4:2:2 is carried to a .y4m output.\n\n"
     "HD video is usually BT.709, and a .y4m does not say which matrix it holds: have ffmpeg write BT.601, as "
     "ffmpeg -i clip.mp4 -vf scale=out_color_matrix=bt601:out_range=tv -pix_fmt yuv420p -f yuv4mpegpipe - "
     "(out_range=pc and yuvj420p for full range), so that no colour shifts unawares.\n\n"
     "Kept from the input: a PNG's iCCP, sRGB, gAMA, cHRM, pHYs, tEXt, zTXt, iTXt and eXIf chunks, every text "
     "among them; a JPEG's ICC profile, EXIF and JFIF density (as iCCP, eXIf and pHYs). A PNG output keeps all of "
     "them; a JPEG output keeps the ICC profile (up to 255 segments), EXIF (up to one segment) and density; a "
     ".y4m or .yuv keeps none. What an output cannot hold is left out with a note naming it, and so is a profile "
     "that is not an RGB profile (the outputs are colour pictures). Not kept: other chunks, JPEG comments and "
     "other APPn segments. EXIF orientation is kept as data, never applied to the pixels. Everything a file "
     "holds, its metadata as it is inflated included, counts against --max-memory.\n",
     "OUTPUT may be '-' (standard output), /dev/stdout, /dev/fd/N, a device or a FIFO: it is then written "
     "directly. Other outputs are written to a temporary file and renamed into place only when complete, so a "
     "failed or interrupted run leaves existing files as they were (a sequence keeps the pictures already "
     "finished); a symbolic link keeps pointing at the replaced file, which keeps its permissions, owner and "
     "group. An existing output you may not write, or whose owner or group the replacement could not keep, is "
     "refused. An output that is one of the inputs is refused ('-' too, when standard output is an input). With "
     "--out-dir, an output name that is already a symbolic link, a FIFO or a device is refused, never followed or "
     "opened.\n\n"
     "INPUT may be '-' (standard input) or a pipe: PNG, JPEG and YUV4MPEG2 are told apart by their first bytes; "
     "raw planes are read from a .yuv name, or from '-' with --input-size. Alpha passes through. JPEG: colour and "
     "grey files are read (grey as grey RGB), CMYK files are refused, and EXIF orientation is not applied. A "
     "damaged JPEG (cut short, corrupt data: anything the decoder warns about) or one with more than "
     "{max-scans} scans is refused.\n",
     RunConvert},
    {"planes", "show a picture's three components side by side in grey",
     "usage: colorspace planes [--model yuv|ycbcr] [OPTIONS] INPUT OUTPUT\n",
     "Writes the picture's three components side by side as grey images (one above the other for a picture too "
     "wide for that). An RGB picture is converted exactly to --model first (default yuv); a YUV or YCbCr picture "
     "is shown as it is. A mixed picture (the output of a masked conversion) is refused. OUTPUT is PNG or grey "
     "JPEG, by its suffix.\n",
     "", RunPlanes},
    {"pixel", "convert one colour",
     "usage: colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] A B C\n"
     "       colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] '#AABBCC'\n",
     "Converts one colour exactly (truncated) and prints its components:\n\n"
     "text\tR 255 G 0 B 0 #FF0000, Y 76 U 85 V 255 #4C55FF, Y 81 Cb 90 Cr 239 #515AEF\n"
     "hex\t#4C55FF\n"
     "csv\t76,85,255\n",
     "", RunPixel},
    {"demo", "convert a colour chart both ways and print the round-trip error",
     "usage: colorspace demo [--compression fast|default|best] [DIR]\n",
     "Builds a colour chart, converts it to YUV and YCbCr and back on both paths, writes the pictures and their "
     "planes into DIR (default: the current directory), and prints the round-trip error of each.\n",
     "", RunDemo},
};

const char* const kExitStatusHelp =
    "Exit status: 0 done; 1 a file could not be read, converted or written;\n"
    "2 a usage error (the command line is wrong; nothing is written).\n";

// Model names ignore case on the command line (files record them in
// lower case).
std::string ModelValue(const std::string& option, const std::string& value, std::optional<Model>& into) {
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  into = ParseModel(lower);
  return into ? std::string() : "unknown colour model '" + value + "' for " + option + " (use rgb, yuv or ycbcr)";
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

std::optional<SamplingChoice> SamplingValue(const std::string& value, bool nv12) {
  if (value == "444") return SamplingChoice::k444;
  if (value == "422") return SamplingChoice::k422;
  if (value == "420") return SamplingChoice::k420;
  if (nv12 && value == "nv12") return SamplingChoice::kNv12;
  return std::nullopt;
}

struct OptionInfo {
  const char* name;
  const char* value;     // what it takes, for the help; nullptr: a flag
  const char* commands;  // space-separated
  const char* help;      // one paragraph, wrapped when shown
  std::string (*apply)(const std::string& value, Options& options);
};

const OptionInfo kOptions[] = {
    {"--to", "MODEL", "convert pixel", "the model to convert to: rgb, yuv or ycbcr (any case)",
     [](const std::string& v, Options& o) { return ModelValue("--to", v, o.to); }},
    {"--from", "MODEL", "convert planes pixel",
     "the input's model, for files that do not record it (default rgb); must agree with a recorded model",
     [](const std::string& v, Options& o) { return ModelValue("--from", v, o.from); }},
    {"--model", "MODEL", "planes", "yuv or ycbcr: what an RGB picture is shown in (default yuv)",
     [](const std::string& v, Options& o) { return ModelValue("--model", v, o.model); }},
    {"--exact", nullptr, "convert",
     "convert every pixel exactly (truncated) instead of by the fast path (fixed point, each value within 0.55 of "
     "exact)",
     [](const std::string&, Options& o) {
       o.exact = true;
       return std::string();
     }},
    {"--mask", "MASK", "convert",
     "convert exactly only the pixels the mask selects: a mask is an rgb picture (one recorded as yuv, ycbcr or "
     "mixed, or a YUV4MPEG2 file, is refused), and a mask pixel selects when it is not black and not fully "
     "transparent (its brightest of red, green and blue above --mask-threshold, alpha not zero). The output records "
     "that it is mixed and keeps the selection; converting it back without --mask uses that selection. A mask that "
     "selects nothing is refused. Given again for a mixed file whose selection chunk another program dropped, it "
     "restores the selection.",
     [](const std::string& v, Options& o) {
       o.mask = v;
       return std::string();
     }},
    {"--mask-threshold", "N", "convert",
     "0 to 254 (default 0: any pixel not black selects); a JPEG mask's noise near black selects too, so a note "
     "suggests 32 for one",
     [](const std::string& v, Options& o) {
       const bool zero = v == "0";
       const auto threshold = PositiveNumber(v);
       if (!zero && (!threshold || *threshold > 254))
         return std::string("--mask-threshold takes a number from 0 to 254");
       o.maskThreshold = zero ? 0 : static_cast<int>(*threshold);
       return std::string();
     }},
    {"--forget-selection", nullptr, "convert",
     "for a mixed file whose selection chunk was dropped: forget its record, and take it as --from says",
     [](const std::string&, Options& o) {
       o.forgetSelection = true;
       return std::string();
     }},
    {"--out-dir", "DIR", "convert", "write DIR/NAME.png (or the suffix of --format) for each input (DIR is created)",
     [](const std::string& v, Options& o) {
       o.outDir = v;
       return std::string();
     }},
    {"--format", "png|jpeg|y4m|raw", "convert planes",
     "the output's format, for '-', devices and names without a known suffix (default for '-', devices and FIFOs: "
     "png); it must agree with a known suffix",
     [](const std::string& v, Options& o) {
       if (!FormatNamed(v)) return "--format takes one of " + FormatList();
       o.imageFormat = v;
       return std::string();
     }},
    {"--format", "text|hex|csv", "pixel", "how the colour is printed (default text)",
     [](const std::string& v, Options& o) {
       if (v == "text") {
         o.format = PixelFormat::kText;
       } else if (v == "hex") {
         o.format = PixelFormat::kHex;
       } else if (v == "csv") {
         o.format = PixelFormat::kCsv;
       } else {
         return std::string("--format takes text, hex or csv");
       }
       return std::string();
     }},
    {"--quality", "N", "convert planes", "JPEG quality, 1 to 100 (default 92)",
     [](const std::string& v, Options& o) {
       const auto quality = PositiveNumber(v);
       if (!quality || *quality > 100) return std::string("--quality takes a number from 1 to 100");
       o.quality = static_cast<int>(*quality);
       return std::string();
     }},
    {"--jobs", "N", "convert",
     "convert N files at a time (default: one per processor); one file alone of 4 MiB or more is compressed in N "
     "slices at once",
     [](const std::string& v, Options& o) {
       const auto jobs = PositiveNumber(v);
       if (!jobs || *jobs > 256) return std::string("--jobs takes a number from 1 to 256");
       o.jobs = static_cast<int>(*jobs);
       return std::string();
     }},
    {"--compression", "fast|default|best", "convert planes demo",
     "PNG compression: fast (level 1, run-length, Sub filter); default: measures, compressing a sample of 64 rows "
     "both ways, and takes the thorough setting (level 6, adaptive filters) only where it saves at least 10% of the "
     "fast one's size (photographs come out fast, screenshots and drawings thorough); best (level 9, adaptive "
     "filters)",
     [](const std::string& v, Options& o) {
       if (v == "fast") {
         o.compression = Compression::kFast;
       } else if (v == "default") {
         o.compression = Compression::kDefault;
       } else if (v == "best") {
         o.compression = Compression::kBest;
       } else {
         return std::string("--compression takes fast, default or best");
       }
       return std::string();
     }},
    {"--sampling", "444|422|420|nv12", "convert",
     "how a .y4m or .yuv output's chroma is sampled (default 444, every pixel): 422 halves it across, 420 across and "
     "down (the filter matches --chroma-siting), nv12 is 420 with U and V interleaved (.yuv only)",
     [](const std::string& v, Options& o) {
       const auto choice = SamplingValue(v, true);
       if (!choice) return std::string("--sampling takes 444, 422, 420 or nv12");
       o.sampling = *choice;
       o.samplingGiven = true;
       return std::string();
     }},
    {"--chroma-siting", "center|left", "convert",
     "where 4:2:0 chroma sits, written (C420jpeg or C420mpeg2) or read from raw planes: center, between four pixels "
     "(the default, as pictures have it), or left, beside the even column (as MPEG-2 and H.264 video have it)",
     [](const std::string& v, Options& o) {
       if (v == "center") {
         o.siting = ChromaSiting::kCenter;
       } else if (v == "left") {
         o.siting = ChromaSiting::kLeft;
       } else {
         return std::string("--chroma-siting takes center or left");
       }
       o.sitingGiven = true;
       return std::string();
     }},
    {"--fps", "N[:D]", "convert",
     "the frame rate of a stream written: N frames per D seconds (default: the input stream's, else 25)",
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
     }},
    {"--input-size", "WxH", "convert planes",
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
     }},
    {"--input-sampling", "444|422|420|nv12", "convert planes",
     "how the chroma of raw planes read is sampled (--chroma-siting tells where 4:2:0 chroma sits)",
     [](const std::string& v, Options& o) {
       o.inputSampling = SamplingValue(v, true);
       return o.inputSampling ? std::string() : std::string("--input-sampling takes 444, 422, 420 or nv12");
     }},
    {"--max-pixels", "N", "convert planes",
     "refuse inputs larger than N pixels from their header, before reading on (default 134217728)",
     [](const std::string& v, Options& o) {
       const auto limit = PositiveNumber(v);
       if (!limit) return std::string("--max-pixels takes a positive number of pixels");
       o.maxPixels = *limit;
       return std::string();
     }},
    {"--max-memory", "N[K|M|G]", "convert planes",
     "the memory all jobs together may take (default: half of the machine's); a file that does not fit waits for "
     "others to finish, one that never could is refused",
     MaxMemoryValue},
    {"--help", nullptr, "convert planes pixel demo", "print this help",
     [](const std::string&, Options& o) {
       o.help = true;
       return std::string();
     }},
};

bool Takes(const OptionInfo& option, const std::string& command) {
  const std::string list = std::string(" ") + option.commands + " ";
  return list.find(" " + command + " ") != std::string::npos;
}

std::string Spelled(const OptionInfo& option) {
  return option.value != nullptr ? std::string(option.name) + " " + option.value : std::string(option.name);
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

std::string OptionsHelp(const std::string& command) {
  constexpr std::size_t kHelpColumn = 22;
  std::string out;
  for (const OptionInfo& option : kOptions) {
    if (!Takes(option, command) || std::string(option.name) == "--help") continue;
    std::string left = "  " + Spelled(option);
    if (left.size() + 2 > kHelpColumn) {
      out += left + "\n" + std::string(kHelpColumn, ' ');
    } else {
      out += left + std::string(kHelpColumn - left.size(), ' ');
    }
    out += Wrap(option.help, kHelpColumn, kHelpColumn);
  }
  return out;
}

// A value the help names in braces, declared where the tool uses it.
std::string HelpValue(const std::string& name) {
  if (name == "formats") {
    std::string list;
    for (const Format& format : AllFormats()) {
      list += std::string(list.empty() ? "" : "\n") + format.name + " (" + format.suffixes + ")\t" + format.help;
    }
    return list;
  }
  if (name == "upsampling") return kUpsamplingHelp;
  if (name == "downsampling") return kDownsamplingHelp;
  if (name == "max-scans") return std::to_string(kMaxJpegScans);
  return "{" + name + "}";
}

// `text` with each {name} replaced by its value.
std::string WithValues(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', at)) {
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    out += text.substr(at, open - at) + HelpValue(text.substr(open + 1, close - open - 1));
    at = close + 1;
  }
  return out + text.substr(at);
}

// Paragraphs wrapped to the width; a list's terms in a column of their own.
std::string Paragraphs(const std::string& text) {
  constexpr std::size_t kTermColumn = 18;
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\n\n", at);
    if (end == std::string::npos) end = text.size();
    std::string paragraph = text.substr(at, end - at);
    while (!paragraph.empty() && paragraph.back() == '\n') paragraph.pop_back();
    if (!out.empty()) out += "\n";
    if (paragraph.find('\t') != std::string::npos) {
      std::size_t line = 0;
      while (line < paragraph.size()) {
        std::size_t lineEnd = paragraph.find('\n', line);
        if (lineEnd == std::string::npos) lineEnd = paragraph.size();
        const std::string item = paragraph.substr(line, lineEnd - line);
        const std::size_t tab = item.find('\t');
        std::string term = "  " + item.substr(0, tab);
        if (term.size() + 2 > kTermColumn) {
          out += term + "\n" + std::string(kTermColumn, ' ');
        } else {
          out += term + std::string(kTermColumn - term.size(), ' ');
        }
        out += Wrap(item.substr(tab + 1), kTermColumn, kTermColumn);
        line = lineEnd + 1;
      }
    } else {
      out += Wrap(paragraph, 0, 0);
    }
    at = end + 2;
  }
  return out;
}

std::string ProgramHelp() {
  std::string out =
      "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\n"
      "\n"
      "Converts pictures and single colours between RGB, full-range YUV and\n"
      "studio-range YCbCr.\n"
      "\n"
      "Commands (colorspace COMMAND --help tells more):\n";
  for (const CommandInfo& command : kCommands) {
    const std::string left = std::string("  ") + command.name;
    out += left + std::string(12 - left.size(), ' ') + Wrap(command.summary, 12, 12);
  }
  return out + "\nOptions: --help, --version\n";
}

}  // namespace

int RunCommand(const std::string& name, const Options& options) {
  for (const CommandInfo& command : kCommands) {
    if (name == command.name) return command.run(options);
  }
  return kExitUsage;
}

bool IsCommand(const std::string& name) {
  return std::any_of(std::begin(kCommands), std::end(kCommands),
                     [&](const CommandInfo& command) { return name == command.name; });
}

std::string CommandTableMarkdown() {
  std::string out = "| Command | What it does | Options |\n|---|---|---|\n";
  for (const CommandInfo& command : kCommands) {
    std::string options;
    for (const OptionInfo& option : kOptions) {
      if (!Takes(option, command.name)) continue;
      std::string spelled = Spelled(option);
      for (std::size_t at = spelled.find('|'); at != std::string::npos; at = spelled.find('|', at + 2)) {
        spelled.insert(at, 1, '\\');  // a bar inside a table cell
      }
      options += (options.empty() ? "`" : ", `") + spelled + "`";
    }
    out += std::string("| `") + command.name + "` | " + command.summary + " | " + options + " |\n";
  }
  return out;
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
  }
  return {};
}

std::string HelpFor(const std::string& command) {
  for (const CommandInfo& info : kCommands) {
    if (command != info.name) continue;
    std::string help =
        std::string(info.usage) + "\n" + Paragraphs(WithValues(info.description)) + "\n" + OptionsHelp(command);
    if (*info.notes != '\0') help += "\n" + Paragraphs(WithValues(info.notes));
    return help + "\n" + kExitStatusHelp;
  }
  return ProgramHelp() + "\n" + kExitStatusHelp;
}

std::string ShortUsage() {
  std::string names;
  for (const CommandInfo& command : kCommands) names += (names.empty() ? "" : ", ") + std::string(command.name);
  return "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\ncommands: " + names + " (colorspace --help tells more)\n";
}

}  // namespace cstool

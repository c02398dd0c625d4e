#include "shared/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "commands/Commands.h"

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

const CommandInfo kCommands[] = {
    {"convert", "convert PNG, JPEG or YUV4MPEG2 pictures; the output's name chooses its format",
     "usage: colorspace convert --to MODEL [OPTIONS] INPUT OUTPUT\n"
     "       colorspace convert --to MODEL [OPTIONS] --out-dir DIR INPUT...\n",
     "Converts PNG, JPEG or YUV4MPEG2 pictures (MODEL: rgb, yuv or ycbcr). The\n"
     "output's suffix chooses its format:\n"
     "  .png          any result; the model (and a mask's selection) is recorded\n"
     "                in the file, so the way back needs no --from\n"
     "  .jpg, .jpeg   rgb results only (a JPEG's decoder turns what it holds into\n"
     "                RGB): quality --quality (default 92); colour sampled 4:4:4\n"
     "                at quality 90 and above, 4:2:0 below\n"
     "  .y4m          YUV4MPEG2 for video tools: one frame, 8-bit 4:4:4 planes\n"
     "                (C444), XCOLORRANGE=FULL for yuv, LIMITED for ycbcr\n"
     "A result the format cannot hold (a yuv, ycbcr or mixed result as JPEG, an\n"
     "rgb or mixed one as YUV4MPEG2, transparent pixels in either) is refused\n"
     "with nothing written; any other suffix is refused with the list.\n"
     "\n"
     "Kept from the input: a PNG's iCCP, sRGB, gAMA, cHRM, pHYs, tEXt, zTXt,\n"
     "iTXt and eXIf chunks, every text among them; a JPEG's ICC profile, EXIF and\n"
     "JFIF density (as iCCP, eXIf and pHYs). A PNG output keeps all of them; a\n"
     "JPEG output keeps the ICC profile (up to 255 segments), EXIF (up to one\n"
     "segment) and density; a .y4m keeps none. What an output cannot hold is left\n"
     "out with a note naming it, and so is a profile that is not an RGB profile\n"
     "(the outputs are colour pictures). Not kept: other chunks, JPEG comments\n"
     "and other APPn segments. EXIF orientation is kept as data, never applied\n"
     "to the pixels. Everything a file holds, its metadata as it is inflated\n"
     "included, counts against --max-memory.\n",
     "OUTPUT may be '-' (standard output), /dev/stdout, /dev/fd/N, a device or a\n"
     "FIFO: it is then written directly. Other outputs are written to a temporary\n"
     "file and renamed into place only when complete, so a failed or interrupted\n"
     "run leaves existing files as they were; a symbolic link keeps pointing at\n"
     "the replaced file, which keeps its permissions, owner and group. An existing\n"
     "output you may not write, or whose owner or group the replacement could not\n"
     "keep, is refused. An output that is one of the inputs is refused ('-' too,\n"
     "when standard output is an input). With --out-dir, an output name that is\n"
     "already a symbolic link, a FIFO or a device is refused, never followed or\n"
     "opened. INPUT may be '-' (standard input) or a pipe: PNG, JPEG and\n"
     "YUV4MPEG2 are told apart by their first bytes.\n"
     "Alpha passes through. JPEG: colour and grey files are read (grey as grey\n"
     "RGB), CMYK files are refused, and EXIF orientation is not applied. A damaged\n"
     "JPEG (cut short, corrupt data: anything the decoder warns about) or one\n"
     "with more than 500 scans is refused. YUV4MPEG2: only a single 8-bit C444\n"
     "frame is read (other sampling is refused by name); XCOLORRANGE=FULL is\n"
     "read as yuv, LIMITED as ycbcr, and without it --from yuv or ycbcr is\n"
     "needed.\n",
     RunConvert},
    {"planes", "show a picture's three components side by side in grey",
     "usage: colorspace planes [--model yuv|ycbcr] [OPTIONS] INPUT OUTPUT\n",
     "Writes the picture's three components side by side as grey images (one\n"
     "above the other for a picture too wide for that). An RGB\n"
     "picture is converted exactly to --model first (default yuv); a YUV or\n"
     "YCbCr picture is shown as it is. A mixed picture (the output of a masked\n"
     "conversion) is refused. OUTPUT is PNG or grey JPEG, by its suffix.\n",
     "", RunPlanes},
    {"pixel", "convert one colour",
     "usage: colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] A B C\n"
     "       colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] '#AABBCC'\n",
     "Converts one colour exactly (truncated) and prints its components:\n"
     "  text   R 255 G 0 B 0 #FF0000, Y 76 U 85 V 255 #4C55FF, Y 81 Cb 90 Cr 239 #515AEF\n"
     "  hex    #4C55FF\n"
     "  csv    76,85,255\n",
     "", RunPixel},
    {"demo", "convert a colour chart both ways and print the round-trip error",
     "usage: colorspace demo [--compression fast|default|best] [DIR]\n",
     "Builds a colour chart, converts it to YUV and YCbCr and back on both paths,\n"
     "writes the pictures and their planes into DIR (default: the current\n"
     "directory), and prints the round-trip error of each.\n",
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
    {"--format", "png|jpeg|y4m", "convert planes",
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
    std::string help = std::string(info.usage) + "\n" + info.description + "\n" + OptionsHelp(command);
    if (*info.notes != '\0') help += std::string("\n") + info.notes;
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

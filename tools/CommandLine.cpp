#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace cstool {
namespace {

const char* const kProgramHelp =
    "usage: colorspace [COMMAND] [OPTIONS] [OPERANDS]\n"
    "\n"
    "Converts pictures and single colours between RGB, full-range YUV and\n"
    "studio-range YCbCr.\n"
    "\n"
    "Commands (colorspace COMMAND --help tells more):\n"
    "  convert   convert PNG, JPEG or YUV4MPEG2 pictures; the output's name\n"
    "            chooses PNG, JPEG or YUV4MPEG2\n"
    "  planes    show a picture's three components side by side in grey\n"
    "  pixel     convert one colour\n"
    "  demo      convert a colour chart both ways and print the round-trip error\n"
    "\n"
    "Options: --help, --version\n";

const char* const kConvertHelp =
    "usage: colorspace convert --to MODEL [OPTIONS] INPUT OUTPUT\n"
    "       colorspace convert --to MODEL [OPTIONS] --out-dir DIR INPUT...\n"
    "\n"
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
    "iTXt and eXIf chunks; a JPEG's ICC profile, EXIF and JFIF density (as\n"
    "iCCP, eXIf and pHYs). A PNG output keeps all of them; a JPEG output keeps\n"
    "the ICC profile, EXIF and density (EXIF over 65527 bytes is refused), not\n"
    "the texts, sRGB, gAMA or cHRM; a .y4m keeps none. Not kept: other chunks,\n"
    "JPEG comments and other APPn segments. EXIF orientation is kept as data,\n"
    "never applied to the pixels.\n"
    "\n"
    "  --to MODEL          the model to convert to\n"
    "  --from MODEL        the input's model, for files that do not record it\n"
    "                      (default rgb); must agree with a recorded model\n"
    "  --exact             convert every pixel exactly (truncated) instead of by\n"
    "                      the fast path (fixed point, each value within 0.55 of\n"
    "                      exact)\n"
    "  --mask MASK         convert exactly only the pixels the mask selects: a mask\n"
    "                      pixel selects when it is not black and not fully\n"
    "                      transparent (its brightest of red, green and blue\n"
    "                      above --mask-threshold, alpha not zero). The output\n"
    "                      records that it is mixed and keeps the selection;\n"
    "                      converting it back without --mask uses that selection.\n"
    "                      A mask that selects nothing is refused. Given again\n"
    "                      for a mixed file whose selection chunk another\n"
    "                      program dropped, it restores the selection.\n"
    "  --mask-threshold N  0 to 254 (default 0: any pixel not black selects); a\n"
    "                      JPEG mask's noise near black selects too, so a note\n"
    "                      suggests 32 for one\n"
    "  --forget-selection  for a mixed file whose selection chunk was dropped:\n"
    "                      forget its record, and take it as --from says\n"
    "  --out-dir DIR       write DIR/NAME.png (or the suffix of --format) for\n"
    "                      each input (DIR is created)\n"
    "  --format png|jpeg|y4m\n"
    "                      the output's format, for '-', devices and names\n"
    "                      without a known suffix (default for '-', devices\n"
    "                      and FIFOs: png); it must agree with a known suffix\n"
    "  --quality N         JPEG quality, 1 to 100 (default 92)\n"
    "  --jobs N            convert N files at a time (default: one per processor)\n"
    "  --compression fast|default|best\n"
    "                      PNG compression: fast; default (fast for photographs,\n"
    "                      thorough for screenshots and drawings); best\n"
    "  --max-pixels N      refuse inputs larger than N pixels from their header,\n"
    "                      before reading on (default 134217728)\n"
    "  --max-memory N[K|M|G]\n"
    "                      the memory all jobs together may take (default: half\n"
    "                      of the machine's); a file that does not fit waits for\n"
    "                      others to finish, one that never could is refused\n"
    "\n"
    "OUTPUT may be '-' (standard output), a device or a FIFO: it is then written\n"
    "directly. Other outputs are written to a temporary file and renamed into\n"
    "place only when complete, so a failed or interrupted run leaves existing\n"
    "files as they were; a symbolic link keeps pointing at the replaced file,\n"
    "which keeps its permissions. An output that is one of the inputs is refused\n"
    "('-' too, when standard output is an input). With --out-dir, an output name\n"
    "that is already a symbolic link, a FIFO or a device is refused, never\n"
    "followed or opened. INPUT may be '-' (standard input) or a pipe: PNG,\n"
    "JPEG and YUV4MPEG2 are told apart by their first bytes.\n"
    "Alpha passes through. JPEG: colour and grey files are read (grey as grey\n"
    "RGB), CMYK files are refused, and EXIF orientation is not applied. A damaged\n"
    "JPEG (cut short, corrupt data: anything the decoder warns about) or one\n"
    "with more than 500 scans is refused. YUV4MPEG2: only a single 8-bit C444\n"
    "frame is read (other sampling is refused by name); XCOLORRANGE=FULL is\n"
    "read as yuv, LIMITED as ycbcr, and without it --from yuv or ycbcr is\n"
    "needed.\n";

const char* const kPlanesHelp =
    "usage: colorspace planes [--model yuv|ycbcr] [OPTIONS] INPUT OUTPUT\n"
    "\n"
    "Writes the picture's three components side by side as grey images (one\n"
    "above the other for a picture too wide for that). An RGB\n"
    "picture is converted exactly to --model first (default yuv); a YUV or\n"
    "YCbCr picture is shown as it is. A mixed picture (the output of a masked\n"
    "conversion) is refused. OUTPUT is PNG or grey JPEG, by its suffix.\n"
    "\n"
    "  --model MODEL       yuv or ycbcr\n"
    "  --from MODEL        the input's model, for files that do not record it\n"
    "  --compression fast|default|best\n"
    "  --format png|jpeg   --quality N\n"
    "                      as for convert\n"
    "  --max-pixels N      as for convert\n"
    "  --max-memory N[K|M|G]\n"
    "                      as for convert\n";

const char* const kPixelHelp =
    "usage: colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] A B C\n"
    "       colorspace pixel --to MODEL [--from MODEL] [--format=text|hex|csv] '#AABBCC'\n"
    "\n"
    "Converts one colour exactly (truncated) and prints its components:\n"
    "  text   R 255 G 0 B 0 #FF0000, Y 76 U 85 V 255 #4C55FF, Y 81 Cb 90 Cr 239 #515AEF\n"
    "  hex    #4C55FF\n"
    "  csv    76,85,255\n";

const char* const kDemoHelp =
    "usage: colorspace demo [--compression fast|default|best] [DIR]\n"
    "\n"
    "Builds a colour chart, converts it to YUV and YCbCr and back on both paths,\n"
    "writes the pictures and their planes into DIR (default: the current\n"
    "directory), and prints the round-trip error of each.\n";

const char* const kExitStatusHelp =
    "\n"
    "Exit status: 0 done; 1 a file could not be read, converted or written;\n"
    "2 a usage error (the command line is wrong; nothing is written).\n";

struct KnownOption {
  const char* name;
  bool takesValue;
  const char* commands;  // space-separated
};

const KnownOption kKnownOptions[] = {
    {"--to", true, "convert pixel"},
    {"--from", true, "convert planes pixel"},
    {"--model", true, "planes"},
    {"--mask", true, "convert"},
    {"--mask-threshold", true, "convert"},
    {"--out-dir", true, "convert"},
    {"--exact", false, "convert"},
    {"--forget-selection", false, "convert"},
    {"--max-memory", true, "convert planes"},
    {"--jobs", true, "convert"},
    {"--compression", true, "convert planes demo"},
    {"--max-pixels", true, "convert planes"},
    {"--format", true, "convert planes pixel"},
    {"--quality", true, "convert planes"},
    {"--help", false, "convert planes pixel demo"},
};

bool Takes(const KnownOption& known, const std::string& command) {
  const std::string list = std::string(" ") + known.commands + " ";
  return list.find(" " + command + " ") != std::string::npos;
}

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

std::string Apply(const std::string& name, const std::string& value, Options& options) {
  if (name == "--to") return ModelValue(name, value, options.to);
  if (name == "--from") return ModelValue(name, value, options.from);
  if (name == "--model") return ModelValue(name, value, options.model);
  if (name == "--mask") options.mask = value;
  if (name == "--out-dir") options.outDir = value;
  if (name == "--exact") options.exact = true;
  if (name == "--forget-selection") options.forgetSelection = true;
  if (name == "--max-memory") {
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
  }
  if (name == "--help") options.help = true;
  if (name == "--jobs") {
    const auto jobs = PositiveNumber(value);
    if (!jobs || *jobs > 256) return "--jobs takes a number from 1 to 256";
    options.jobs = static_cast<int>(*jobs);
  }
  if (name == "--max-pixels") {
    const auto limit = PositiveNumber(value);
    if (!limit) return "--max-pixels takes a positive number of pixels";
    options.maxPixels = *limit;
  }
  if (name == "--compression") {
    if (value == "fast") {
      options.compression = Compression::kFast;
    } else if (value == "default") {
      options.compression = Compression::kDefault;
    } else if (value == "best") {
      options.compression = Compression::kBest;
    } else {
      return "--compression takes fast, default or best";
    }
  }
  if (name == "--mask-threshold") {
    const bool zero = value == "0";
    const auto threshold = PositiveNumber(value);
    if (!zero && (!threshold || *threshold > 254)) return "--mask-threshold takes a number from 0 to 254";
    options.maskThreshold = zero ? 0 : static_cast<int>(*threshold);
  }
  if (name == "--quality") {
    const auto quality = PositiveNumber(value);
    if (!quality || *quality > 100) return "--quality takes a number from 1 to 100";
    options.quality = static_cast<int>(*quality);
  }
  if (name == "--format" && options.command != "pixel") {
    if (!FormatNamed(value)) return "--format takes one of " + FormatList();
    options.imageFormat = value;
  } else if (name == "--format") {
    if (value == "text") {
      options.format = PixelFormat::kText;
    } else if (value == "hex") {
      options.format = PixelFormat::kHex;
    } else if (value == "csv") {
      options.format = PixelFormat::kCsv;
    } else {
      return "--format takes text, hex or csv";
    }
  }
  return {};
}

}  // namespace

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
    const KnownOption* known = nullptr;
    for (const KnownOption& candidate : kKnownOptions) {
      if (name == candidate.name) known = &candidate;
    }
    if (known == nullptr) return "unknown option " + name + " (see colorspace " + options.command + " --help)";
    if (!Takes(*known, options.command)) {
      if (options.command == "planes" && name == "--to") return "planes takes the model as --model, not --to";
      return options.command + " does not take " + name;
    }
    std::string value;
    if (known->takesValue) {
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
    const std::string error = Apply(name, value, options);
    if (!error.empty()) return error;
  }
  return {};
}

std::string HelpFor(const std::string& command) {
  std::string help = kProgramHelp;
  if (command == "convert") help = kConvertHelp;
  if (command == "planes") help = kPlanesHelp;
  if (command == "pixel") help = kPixelHelp;
  if (command == "demo") help = kDemoHelp;
  return help + kExitStatusHelp;
}

std::string ShortUsage() {
  return "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\n"
         "commands: convert, planes, pixel, demo (colorspace --help tells more)\n";
}

}  // namespace cstool

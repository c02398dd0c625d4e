// The command line: the options, each once with its help and what it
// takes, and parsing them for a command. The commands are declared where
// main is, one row each (CommandInfo). The texts made from these tables are
// in Documents.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/Formats.h"
#include "shared/ColorModel.h"

namespace cstool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The --mask-threshold suggested for a JPEG mask: above its noise near
// black.
inline constexpr int kJpegMaskThreshold = 32;

enum class PixelFormat { kText, kHex, kCsv };

struct Options {
  std::string command;  // the command's name
  std::vector<std::string> operands;
  // Every option given; with its value, each that formats take (see
  // Format::writeOptions and readOptions), which the commands pass on to
  // them untouched.
  GivenOptions given;
  std::optional<Model> to;
  std::optional<Model> from;
  std::optional<Model> model;
  std::string mask;
  int maskThreshold = 0;  // a mask pixel selects when its brightest component exceeds it
  std::string outDir;
  bool exact = false;
  bool forgetSelection = false;
  bool help = false;
  int jobs = 0;  // 0: one per processor
  std::uint64_t maxPixels = kDefaultMaxPixels;
  std::uint64_t maxMemory = 0;              // 0: half of the machine's memory
  PixelFormat format = PixelFormat::kText;  // pixel's --format
  std::string imageFormat;                  // --format of the commands writing pictures, as given

  bool Given(const std::string& option) const { return given.Given(option); }
};

// One command. Texts are paragraphs, wrapped when shown; a paragraph of
// lines "TERM\tTEXT" is a list. {name} stands for a value the tool declares
// elsewhere (a default, a limit, a table), so that it is written once.
struct CommandInfo {
  const char* name;
  const char* summary;      // one line for the program's help
  const char* usage;        // the usage lines, as shown
  const char* description;  // before the options
  const char* notes;        // after the options, or ""
  int (*run)(const Options&);
  // The formats it writes (none: it writes no file), and whether it reads
  // files: it takes the options those formats take (Format::writeOptions,
  // and readOptions).
  bool (*writes)(const Format& format);
  bool reads;
};
using CommandTable = std::span<const CommandInfo>;

const CommandInfo* FindCommand(CommandTable commands, const std::string& name);

// Parses argv[2...] for `command`, in argv[1]. Returns an error line for a
// usage error, else nothing. Options may come anywhere, as "--name value"
// or "--name=value"; "--" ends them. An option the command does not take
// is an error.
std::string ParseCommandLine(const CommandInfo& command, int argc, char** argv, Options& options);

// What the shell offers after an option that takes no choices.
enum class Completion { kNothing, kFile, kDirectory };

struct OptionInfo {
  const char* name;
  const char* value;  // the word for what it takes ("N", "DIR"); "": its choices; nullptr: a flag
  std::vector<std::string> (*choices)(const CommandInfo& command);  // the values it takes, where they are few
  // The commands that take it, space-separated; nullptr: those that write
  // or read a format that takes it (see CommandInfo).
  const char* commands;
  const char* help;  // one paragraph, with {values}
  std::string (*apply)(const std::string& value, Options& options);
  Completion completion = Completion::kNothing;
};

// The options, in the order the help lists them.
std::span<const OptionInfo> AllOptions();
bool Takes(const OptionInfo& option, const CommandInfo& command);
// What the option takes as the help shows it: "N", "png|jpeg", or nothing
// for a flag; and the option with it.
std::string ValueWord(const OptionInfo& option, const CommandInfo& command);
std::string Spelled(const OptionInfo& option, const CommandInfo& command);

}  // namespace cstool

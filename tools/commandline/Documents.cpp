#include "commandline/Documents.h"

#include "formats/ChromaSampling.h"

namespace cstool {
namespace {

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

// `text` wrapped to 78 columns, every line indented by `indent`, the first
// starting at `column` (the left side already written).
std::string Wrap(const std::string& text, std::size_t indent, std::size_t column) {
  constexpr std::size_t kWidth = 78;
  std::string out;
  std::size_t at = column;
  for (const std::string& word : Split(text, " ")) {
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
  for (std::string body : Split(text, "\n\n")) {
    while (!body.empty() && body.back() == '\n') body.pop_back();
    Paragraph paragraph;
    if (body.find('\t') != std::string::npos) {
      for (const std::string& item : Split(body, "\n")) {
        const std::size_t tab = item.find('\t');
        paragraph.items.emplace_back(item.substr(0, tab), tab == std::string::npos ? "" : item.substr(tab + 1));
      }
    } else {
      paragraph.text = body;
    }
    if (!body.empty()) paragraphs.push_back(paragraph);
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

std::string OptionsHelp(const CommandInfo& command) {
  constexpr std::size_t kHelpColumn = 22;
  std::string out;
  for (const OptionInfo& option : AllOptions()) {
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

std::string CommandTableMarkdown(CommandTable commands) {
  std::string out = "| Command | What it does | Options |\n|---|---|---|\n";
  for (const CommandInfo& command : commands) {
    std::string options;
    for (const OptionInfo& option : AllOptions()) {
      if (!Takes(option, command)) continue;
      std::string spelled = Spelled(option, command);
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
    for (const std::string& suffix : Split(format.suffixes, " ")) {
      suffixes += (suffixes.empty() ? "`" : ", `") + suffix + "`";
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

std::string ManPage(CommandTable commands, const std::string& version) {
  std::string out = ".\\\" Made by colorspace --generate man from the tool's own tables.\n";
  out += ".TH COLORSPACE 1 \"\" \"colorspace " + Roff(version) + "\" \"User Commands\"\n";
  out += ".SH NAME\ncolorspace \\- convert pictures, video frames and colours between RGB, YUV and YCbCr\n";
  out += ".SH SYNOPSIS\n.nf\n";
  for (const CommandInfo& command : commands) {
    for (const std::string& line : Split(command.usage, "\n")) {
      const std::size_t start = line.find("colorspace");
      if (start != std::string::npos) out += Roff(line.substr(start)) + "\n";
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
    for (const OptionInfo& option : AllOptions()) {
      if (!Takes(option, command)) continue;
      const std::string value = ValueWord(option, command);
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
    for (const OptionInfo& option : AllOptions()) {
      if (!Takes(option, command)) continue;
      optionNames += std::string(optionNames.empty() ? "" : " ") + option.name;
      const std::string pattern = std::string("    ") + command.name + ":" + option.name + ")";
      if (option.choices != nullptr) {
        values += pattern + " COMPREPLY=($(compgen -W \"" + JoinWords(option.choices(command), " ", " ") +
                  "\" -- \"$cur\")); return ;;\n";
      } else if (option.completion != Completion::kNothing) {
        values += pattern + " COMPREPLY=($(compgen -" + (option.completion == Completion::kFile ? "f" : "d") +
                  " -- \"$cur\")); return ;;\n";
      } else if (option.value != nullptr) {
        values += pattern + " return ;;\n";
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

}  // namespace

std::string HelpFor(CommandTable commands, const std::string& command) {
  const CommandInfo* info = FindCommand(commands, command);
  if (info == nullptr) return ProgramHelp(commands) + "\n" + Rendered(kExitStatusHelp);
  std::string help = std::string(info->usage) + "\n" + Rendered(info->description) + "\n" + OptionsHelp(*info);
  if (*info->notes != '\0') help += "\n" + Rendered(info->notes);
  return help + "\n" + Rendered(kExitStatusHelp);
}

std::string ShortUsage(CommandTable commands) {
  std::string names;
  for (const CommandInfo& command : commands) names += (names.empty() ? "" : ", ") + std::string(command.name);
  return "usage: colorspace COMMAND [OPTIONS] [OPERANDS]\ncommands: " + names + " (colorspace --help tells more)\n";
}

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
    for (const Format& format : AllFormats()) {
      for (const auto& [number, held] : format.helpNumbers) {
        if (name == number) return std::to_string(held);
      }
    }
    if (name == "upsampling") return kUpsamplingHelp;
    if (name == "downsampling") return kDownsamplingHelp;
    if (name == "max-pixels") return std::to_string(kDefaultMaxPixels);
    if (name == "jpeg-mask-threshold") return std::to_string(kJpegMaskThreshold);
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

std::string Generated(CommandTable commands, const std::string& what, const std::string& version) {
  if (what == "man") return ManPage(commands, version);
  if (what == "bash-completion") return BashCompletion(commands);
  if (what == "commands-table") return CommandTableMarkdown(commands);
  if (what == "formats-table") return FormatTableMarkdown();
  if (what == "defaults-table") return DefaultsTableMarkdown();
  return {};
}

}  // namespace cstool

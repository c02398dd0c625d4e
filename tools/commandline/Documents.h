// The texts made from the tool's tables: the help of each command and of
// the program, the README's lists (commands and their options, formats,
// defaults and limits), the man page colorspace(1), and the bash
// completion.
#pragma once

#include <string>

#include "commandline/CommandLine.h"

namespace cstool {

// The help of one command, or of the program when `command` is empty.
std::string HelpFor(CommandTable commands, const std::string& command);
// What a bare `colorspace` prints to standard error.
std::string ShortUsage(CommandTable commands);

// What --generate WHAT prints (see kProgramOptions), or nothing for an
// unknown WHAT.
std::string Generated(CommandTable commands, const std::string& what, const std::string& version);

// A text with each {name} replaced by its value (see CommandInfo).
std::string WithValues(const std::string& text);

}  // namespace cstool

// The tool's commands, and what they share.
#pragma once

#include <string>
#include <vector>

#include "commandline/CommandLine.h"
#include "formats/Formats.h"
#include "shared/MemoryBudget.h"
#include "shared/Messages.h"
#include "shared/OutputFile.h"
#include "shared/Picture.h"

namespace cstool {

// A refusal or failure, and the exit status it ends the command with.
struct CommandError {
  std::string message;
  int status = kExitOk;
  explicit operator bool() const { return !message.empty(); }
};

int RunConvert(const Options& options);
int RunPlanes(const Options& options);
int RunPixel(const Options& options);
int RunDemo(const Options& options);

// Prints "colorspace: message" and returns status.
int Fail(const std::string& message, int status = kExitFailure);

// The budget of --max-memory, or of half the machine's memory.
std::uint64_t MemoryBudgetBytes(const Options& options);

// What the options say about reading: the pixel limit, the options given
// (for the formats that read with them), whether the model was given;
// memory from `memory`.
ReadOptions ReadOptionsFor(const Options& options, MemoryBudget::Account* memory);
// A picture of planes that does not say its model takes --from's; an
// error line when --from does not give one.
std::string ApplyFrom(const std::string& path, const Options& options, Picture& picture);

// The model of a picture that is not mixed: the recorded one, which --from
// must agree with (else an error line), or --from's (default rgb).
std::string ModelOf(const std::string& path, const ModelRecord& record, const Options& options, Model& model);

// How a run uses an option given that formats take (see
// Format::writeOptions and readOptions).
struct FormatOptionUse {
  std::string name;
  bool writing;  // formats take it to write
  bool reading;  // formats take it to read
  bool written;  // a format this run writes takes it
  bool read;     // an input this run reads may be in a format that takes it
};
// Each option given that formats take, in the option table's order;
// `written`: the formats this run writes.
std::vector<FormatOptionUse> FormatOptionsGiven(const Options& options, const std::vector<const Format*>& written,
                                                const std::vector<std::string>& inputs);

// Refuses, before any file is opened, an output that would put picture
// bytes on a terminal (a usage error) or names a descriptor that is not
// open.
CommandError CheckOutputTarget(const std::string& output);

// Reads a picture within --max-pixels, taking its memory from `memory`,
// passing its notes to `progress`, and gives it --from's model where it
// needs one (see ApplyFrom); returns an error line.
std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget::Account& memory,
                        Picture& picture, Progress& progress);

// Why `picture` cannot be written to `path` as `format` (its model, or
// transparency), ending "; nothing written", or nothing.
std::string RefusalForPicture(const std::string& path, const Picture& picture, const Format& format);
// "cannot write PATH: REASON" after an encoder failed on `stream`: the
// system's reason where a write failed, else the encoder's.
std::string WriteError(const std::string& path, std::FILE* stream, const std::string& encoderError);
void TellNotes(const NoteList& notes, Progress& progress);

// How outputs are written with the options given: as PNG, until a command
// chooses a format.
WriteSettings WriteSettingsFor(const Options& options);

// Writes through OutputFile (see there), refusing first, with nothing
// written, what the format cannot hold (see RefusalFor; transparency in a
// format without alpha), and leaving out with a note the metadata it cannot
// hold (see KeptMetadata); the writer's memory comes from `memory` (none:
// no limit). Returns an error line naming `path`.
std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         Progress& progress, MemoryBudget::Account* memory = nullptr,
                         OutputName name = OutputName::kGiven);
// Why `format` cannot hold the planes, a grey picture, written to `path`
// (ending "; nothing written"), or nothing.
std::string RefusalForGrey(const std::string& path, const Format& format);
std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             Progress& progress, MemoryBudget::Account* memory = nullptr,
                             OutputName name = OutputName::kGiven);

}  // namespace cstool

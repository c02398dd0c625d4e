#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands/Commands.h"
#include "commands/FrameSink.h"
#include "formats/Formats.h"
#include "shared/OutputFile.h"
#include "shared/StandardStreams.h"

namespace cstool {
namespace {

template <typename Encode>
std::string WriteThrough(const std::string& path, OutputName name, Encode encode) {
  std::string error;
  auto output = OutputFile::Open(path, name, error);
  if (!output) return error;
  errno = 0;
  error = encode(output->Stream());
  if (!error.empty()) return WriteError(path, output->Stream(), error);
  return output->Commit();
}

}  // namespace

void TellNotes(const NoteList& notes, Progress& progress) {
  for (const std::string& note : notes.Lines()) progress.Note(note);
}

std::string WriteError(const std::string& path, std::FILE* stream, const std::string& encoderError) {
  // A failed write says more than the encoder's own message.
  const int writeError = std::ferror(stream) != 0 ? errno : 0;
  if (writeError != 0 && (OutputDescriptor(path) == STDOUT_FILENO)) return StandardOutputError(writeError);
  return "cannot write " + path + ": " + (writeError != 0 ? std::strerror(writeError) : encoderError);
}

ReadOptions ReadOptionsFor(const Options& options, MemoryBudget::Account* memory) {
  ReadOptions read;
  read.maxPixels = options.maxPixels;
  read.memory = memory;
  read.given = options.given;
  read.modelGiven = options.from.has_value();
  return read;
}

std::string ApplyFrom(const std::string& path, const Options& options, Picture& picture) {
  if (!picture.needsModel) return {};
  if (!options.from || *options.from == Model::kRGB) {
    return path +
           " holds luma and colour-difference planes without saying their range: give --from yuv (full "
           "range) or --from ycbcr (studio range)";
  }
  picture.record.model = options.from;
  picture.needsModel = false;
  return {};
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "colorspace: %s\n", WithoutControls(message).c_str());
  return status;
}

std::uint64_t MemoryBudgetBytes(const Options& options) {
  return options.maxMemory != 0 ? options.maxMemory : MemoryBudget::DefaultBytes();
}

std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget::Account& memory,
                        Picture& picture, Progress& progress) {
  const ReadResult result = ReadImage(path, ReadOptionsFor(options, &memory), picture);
  if (!result.Ok()) return result.error;
  for (const std::string& note : result.notes) progress.Note(note);
  return ApplyFrom(path, options, picture);
}

WriteSettings WriteSettingsFor(const Options& options) {
  WriteSettings settings;
  settings.format = &PngFormat();
  settings.given = options.given;
  return settings;
}

std::string RefusalForPicture(const std::string& path, const Picture& picture, const Format& format) {
  std::string refusal = RefusalFor(format, picture.record, path);
  if (refusal.empty() && !format.alpha && HasTransparency(picture)) {
    refusal = std::string("the picture for ") + path + " has transparent pixels, which a " + format.title +
              " file cannot hold: write .png to keep them";
  }
  return refusal.empty() ? refusal : refusal + "; nothing written";
}

std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         Progress& progress, MemoryBudget::Account* memory, OutputName name) {
  FrameSink sink(Target{Target::Kind::kPicture, path, {}, name, settings, {}});
  if (settings.format == nullptr) sink.Settings().format = &PngFormat();
  std::string error = sink.Add(picture, memory);
  if (error.empty()) error = sink.Finish();
  if (error.empty()) TellNotes(sink.Notes(), progress);
  return error;
}

std::string RefusalForGrey(const std::string& path, const Format& format) {
  if (format.writeGrey != nullptr) return {};
  return "the planes are a grey picture, which a " + std::string(format.title) + " file does not hold: write " + path +
         " as .png or .jpg; nothing written";
}

std::string ModelOf(const std::string& path, const ModelRecord& record, const Options& options, Model& model) {
  model = options.from.value_or(Model::kRGB);
  if (!record.model) return {};
  if (options.from && *options.from != *record.model) {
    return path + " is recorded as " + NameOf(*record.model) + ", not " + NameOf(*options.from);
  }
  model = *record.model;
  return {};
}

CommandError CheckOutputTarget(const std::string& output) {
  std::string error = CheckNotATerminal(output);
  if (!error.empty()) return {error, kExitUsage};
  error = CheckDescriptorOutput(output);
  if (!error.empty()) return {error, kExitFailure};
  return {};
}

std::vector<FormatOptionUse> FormatOptionsGiven(const Options& options, const std::vector<const Format*>& written,
                                                const std::vector<std::string>& inputs) {
  std::vector<FormatOptionUse> uses;
  for (const OptionInfo& option : AllOptions()) {
    if (option.commands != nullptr || !options.Given(option.name)) continue;
    FormatOptionUse use{option.name, false, false, false, false};
    for (const Format& format : AllFormats()) {
      const bool writing = HasWord(format.writeOptions, option.name);
      const bool reading = HasWord(format.readOptions, option.name);
      use.writing = use.writing || writing;
      use.reading = use.reading || reading;
      use.written = use.written || (writing && std::count(written.begin(), written.end(), &format) != 0);
      use.read = use.read || (reading && std::any_of(inputs.begin(), inputs.end(),
                                                     [&](const std::string& input) { return MayRead(format, input); }));
    }
    uses.push_back(use);
  }
  return uses;
}

std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             Progress& progress, MemoryBudget::Account* memory, OutputName name) {
  const Format& format = settings.format != nullptr ? *settings.format : PngFormat();
  const std::string refusal = RefusalForGrey(path, format);
  if (!refusal.empty()) return refusal;
  NoteList notes;
  const WriteContext context{settings, memory, 0, notes};
  const std::string error =
      WriteThrough(path, name, [&](std::FILE* stream) { return format.writeGrey(stream, picture, context); });
  if (error.empty()) TellNotes(notes, progress);
  return error;
}

}  // namespace cstool

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "commands/Commands.h"
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
  if (!error.empty()) {
    // A failed write says more than the encoder's own message.
    const int writeError = std::ferror(output->Stream()) != 0 ? errno : 0;
    if (writeError != 0 && path == "-") return StandardOutputError(writeError);
    return "cannot write " + path + ": " + (writeError != 0 ? std::strerror(writeError) : error);
  }
  return output->Commit();
}

void TellNotes(const NoteList& notes, Progress& progress) {
  for (const std::string& note : notes.Lines()) progress.Note(note);
}

}  // namespace

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "colorspace: %s\n", WithoutControls(message).c_str());
  return status;
}

std::uint64_t MemoryBudgetBytes(const Options& options) {
  return options.maxMemory != 0 ? options.maxMemory : MemoryBudget::DefaultBytes();
}

std::string ReadPicture(const std::string& path, const Options& options, MemoryBudget::Account& memory,
                        Picture& picture, Progress& progress) {
  ReadLimits limits;
  limits.maxPixels = options.maxPixels;
  limits.memory = &memory;
  const ReadResult result = ReadImage(path, limits, picture);
  if (!result.Ok()) return result.error;
  for (const std::string& note : result.notes) progress.Note(note);
  if (picture.needsModel) {
    if (!options.from || *options.from == Model::kRGB) {
      return path +
             " holds luma and colour-difference planes without saying their range (no XCOLORRANGE): give "
             "--from yuv (full range) or --from ycbcr (studio range)";
    }
    picture.record.model = options.from;
    picture.needsModel = false;
  }
  return {};
}

WriteSettings PngSettings(const Options& options) { return {ImageFormat::kPng, options.compression, options.quality}; }

std::string WritePicture(const std::string& path, const Picture& picture, const WriteSettings& settings,
                         Progress& progress, MemoryBudget::Account* memory, OutputName name) {
  std::string refusal = RefusalFor(settings.format, picture.record, path);
  if (refusal.empty() && settings.format != ImageFormat::kPng && HasTransparency(picture)) {
    refusal = std::string("the picture for ") + path + " has transparent pixels, which " + NameOf(settings.format) +
              " cannot hold: write .png to keep them";
  }
  if (!refusal.empty()) return refusal + "; nothing written";
  NoteList notes;
  const WriteContext context{settings, memory, KeptMetadata(picture.metadata, settings.format, path, notes), notes};
  const std::string error = WriteThrough(path, name, [&](std::FILE* stream) {
    switch (settings.format) {
      case ImageFormat::kJpeg:
        return WriteJpeg(stream, picture, context);
      case ImageFormat::kY4m:
        return WriteY4m(stream, picture, context);
      default:
        return WritePng(stream, picture, context);
    }
  });
  if (error.empty()) TellNotes(notes, progress);
  return error;
}

std::string WriteGreyPicture(const std::string& path, const GreyPicture& picture, const WriteSettings& settings,
                             Progress& progress, MemoryBudget::Account* memory, OutputName name) {
  if (settings.format == ImageFormat::kY4m) {
    return "the planes are a grey picture, which YUV4MPEG2 does not hold: write " + path +
           " as .png or .jpg; nothing written";
  }
  NoteList notes;
  const WriteContext context{settings, memory, 0, notes};
  const std::string error = WriteThrough(path, name, [&](std::FILE* stream) {
    return settings.format == ImageFormat::kJpeg ? WriteGreyJpeg(stream, picture, context)
                                                 : WriteGreyPng(stream, picture, context);
  });
  if (error.empty()) TellNotes(notes, progress);
  return error;
}

std::string CheckNotAnInput(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  std::vector<std::pair<std::string, FileIdentity>> identities;
  for (const std::string& input : inputs) {
    if (const auto identity = InputIdentity(input)) identities.emplace_back(input, *identity);
  }
  for (const std::string& output : outputs) {
    const auto identity = OutputIdentity(output);
    if (!identity) continue;
    for (const auto& [input, inputIdentity] : identities) {
      if (inputIdentity == *identity) {
        return (output == "-" ? std::string("standard output") : output) + " is the same file as the input " + input +
               "; nothing written";
      }
    }
  }
  return {};
}

}  // namespace cstool

// colorspace planes: the three components of a picture side by side.
#include "commands/Commands.h"

namespace cstool {

int RunPlanes(const Options& options) {
  if (options.operands.size() != 2) return Fail("planes takes INPUT OUTPUT", kExitUsage);
  if (options.model == Model::kRGB) return Fail("--model is yuv or ycbcr", kExitUsage);
  WriteSettings settings = PngSettings(options);
  std::string error = ChooseFormat(options.operands[1], options.imageFormat, settings.format);
  if (error.empty() && settings.format->writeGrey == nullptr) {
    error = "the planes are a grey picture, which a " + std::string(settings.format->title) +
            " file does not hold: write " + options.operands[1] + " as .png or .jpg; nothing written";
  }
  if (!error.empty()) return Fail(error, kExitUsage);
  const std::string& input = options.operands[0];
  error = CheckNotATerminal(options.operands[1]);
  if (!error.empty()) return Fail(error, kExitUsage);
  error = CheckDescriptorOutput(options.operands[1]);
  if (error.empty()) error = CheckNotAnInput({options.operands[1]}, {input});
  if (!error.empty()) return Fail(error);
  Progress progress(1);
  const Format& format = *settings.format;
  for (const char* option : {"--quality", "--compression"}) {
    if (options.Given(option) && !Shapes(format, option)) {
      progress.Note(std::string(option) + " has no effect: the output is " + format.title);
    }
  }
  const bool raw = input == "-" || (FormatBySuffix(input) != nullptr && FormatBySuffix(input)->signature.empty());
  for (const char* option : {"--input-size", "--input-sampling", "--chroma-siting"}) {
    if (options.Given(option) && !raw) {
      progress.Note(std::string(option) + " has no effect: the input is not read as raw planes");
    }
  }
  MemoryBudget budget(MemoryBudgetBytes(options));
  MemoryBudget::Account memory(&budget);
  Picture picture;
  error = ReadPicture(input, options, memory, picture, progress);
  if (!error.empty()) return Fail(error);
  if (picture.record.Mixed()) {
    return Fail(input + " is " + Describe(picture.record) +
                "; its planes would mix two models (convert it back to one first)");
  }
  Model model = options.from.value_or(Model::kRGB);
  if (picture.record.model) {
    if (options.from && *options.from != *picture.record.model) {
      return Fail(input + " is recorded as " + NameOf(*picture.record.model) + ", not " + NameOf(*options.from));
    }
    model = *picture.record.model;
  }
  if (model == Model::kRGB) {
    const Model to = options.model.value_or(Model::kYUV);
    error = ConvertPixels(picture, Model::kRGB, to, nullptr, true);
    if (!error.empty()) return Fail(input + ": " + error);
  } else if (options.model && *options.model != model) {
    return Fail(input + " holds " + NameOf(model) + ", not " + NameOf(*options.model));
  }
  error = WriteGreyPicture(options.operands[1], Planes(picture), settings, progress, &memory);
  return error.empty() ? kExitOk : Fail(error);
}

}  // namespace cstool

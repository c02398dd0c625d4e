// colorspace planes: the three components of a picture side by side.
#include "commands/Commands.h"

namespace cstool {

int RunPlanes(const Options& options) {
  if (options.operands.size() != 2) return Fail("planes takes INPUT OUTPUT", kExitUsage);
  if (options.model == Model::kRGB) return Fail("--model is yuv or ycbcr", kExitUsage);
  WriteSettings settings = WriteSettingsFor(options);
  const std::string& input = options.operands[0];
  const std::string& output = options.operands[1];
  std::string error = ChooseFormat(output, options.imageFormat, settings.format);
  if (error.empty()) error = RefusalForGrey(output, *settings.format);
  if (!error.empty()) return Fail(error, kExitUsage);
  if (const CommandError refused = CheckOutputTarget(output)) return Fail(refused.message, refused.status);
  error = InputFiles::Of({input}).Refusal(output);
  if (!error.empty()) return Fail(error);
  Progress progress(1);
  for (const FormatOptionUse& use : FormatOptionsGiven(options, {settings.format}, {input})) {
    if (use.written || use.read) continue;
    progress.Note(use.name + " has no effect: " +
                  (use.reading ? std::string("the input is not read as raw planes")
                               : std::string("the output is ") + settings.format->title));
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
  Model model = Model::kRGB;
  error = ModelOf(input, picture.record, options, model);
  if (!error.empty()) return Fail(error);
  if (model == Model::kRGB) {
    const Model to = options.model.value_or(Model::kYUV);
    error = ConvertPixels(picture, Model::kRGB, to, nullptr, true);
    if (!error.empty()) return Fail(input + ": " + error);
  } else if (options.model && *options.model != model) {
    return Fail(input + " holds " + NameOf(model) + ", not " + NameOf(*options.model));
  }
  error = WriteGreyPicture(output, Planes(picture), settings, progress, &memory);
  return error.empty() ? kExitOk : Fail(error);
}

}  // namespace cstool

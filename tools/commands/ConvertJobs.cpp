#include "commands/ConvertJobs.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "shared/InputFile.h"

namespace cstool {
namespace {

// Before a stream or sequence is written from several inputs, their sizes
// are read (from the headers only) and must agree; and the frames are
// counted where the inputs tell. Only regular files are read ahead: the
// frames of a pipe are checked as they come.
CommandError ProbeSizes(const Options& options, const std::vector<Job>& jobs, std::uint64_t& totalFrames) {
  totalFrames = 0;
  if (jobs.size() != 1) return {};
  const Job& job = jobs.front();
  bool counted = true;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
  std::string first;
  for (const std::string& path : job.inputs) {
    std::error_code ignored;
    if (path == "-" || !std::filesystem::is_regular_file(path, ignored)) {
      counted = false;
      continue;
    }
    ReadResult result;
    std::optional<InputFile> input = InputFile::Open(path, result.error);
    if (!input) return {result.error, kExitFailure};
    MemoryBudget budget(MemoryBudgetBytes(options));
    MemoryBudget::Account memory(&budget);
    const std::unique_ptr<FrameReader> frames = OpenFrames(*input, ReadOptionsFor(options, &memory), result);
    if (frames == nullptr) return {result.error, kExitFailure};
    const auto here = std::make_pair(frames->Width(), frames->Height());
    if (job.inputs.size() > 1 && here.first != 0) {
      if (size && *size != here) {
        return {path + " is " + std::to_string(here.first) + "x" + std::to_string(here.second) + " and " + first +
                    " is " + std::to_string(size->first) + "x" + std::to_string(size->second) +
                    ": the frames of one stream or sequence have one size; nothing written",
                kExitFailure};
      }
      size = here;
      first = path;
    }
    counted = counted && frames->Info().frames.has_value();
    totalFrames += frames->Info().frames.value_or(0);
  }
  if (!counted) totalFrames = 0;
  return {};
}

// How every output is written, and the refusals that need no input: a
// format that cannot hold the result the options ask for, or the sampling.
CommandError ChooseSettings(const Options& options, const std::string& output, WriteSettings& settings) {
  settings = WriteSettingsFor(options);
  if (options.outDir.empty()) {
    const std::string error = ChooseFormat(output, options.imageFormat, settings.format);
    if (!error.empty()) return {error, kExitUsage};
  } else if (!options.imageFormat.empty()) {
    settings.format = FormatNamed(options.imageFormat);
  }
  const Format& format = *settings.format;
  const std::string shown = options.outDir.empty() ? output : "the outputs";
  ModelRecord result;
  result.model = options.to;
  if (!options.mask.empty()) result.outside = Model::kRGB;  // a masked result is mixed
  std::string error = RefusalFor(format, result, shown);
  if (!error.empty()) return {error + "; nothing written", kExitUsage};
  if (options.Given("--sampling")) {
    error = SamplingRefusal(format, *options.given.Get<SamplingChoice>("--sampling"), shown);
    if (!error.empty()) return {error, kExitUsage};
  }
  return {};
}

}  // namespace

CommandError PlanJobs(const Options& options, std::vector<Job>& jobs, std::uint64_t& totalFrames) {
  namespace fs = std::filesystem;
  std::vector<std::string> inputs = options.operands;
  std::vector<std::string> outputs;
  std::optional<FramePattern> pattern;
  if (!options.outDir.empty()) {
    if (inputs.empty()) return {"convert needs at least one input", kExitUsage};
    WriteSettings settings;
    if (CommandError refused = ChooseSettings(options, "", settings)) return refused;
    std::map<std::string, std::string> byOutput;
    for (const std::string& input : inputs) {
      if (input == "-") return {"'-' has no name to write under --out-dir: give it with an output name", kExitUsage};
      const std::string output =
          (fs::path(options.outDir) / fs::path(input).filename().replace_extension(SuffixOf(*settings.format)))
              .string();
      const auto [where, fresh] = byOutput.emplace(output, input);
      if (!fresh) return {where->second + " and " + input + " would both be written to " + output, kExitFailure};
      const Target::Kind kind = settings.format->manyFrames ? Target::Kind::kStream : Target::Kind::kPicture;
      jobs.push_back({{input}, Target{kind, output, {}, OutputName::kMade, settings, {}}});
      outputs.push_back(output);
    }
  } else {
    if (inputs.size() < 2) return {"convert takes INPUT... OUTPUT, or --out-dir DIR INPUT...", kExitUsage};
    const std::string output = inputs.back();
    inputs.pop_back();
    std::string error;
    pattern = ParseFramePattern(output, error);
    if (!error.empty()) return {error, kExitUsage};
    WriteSettings settings;
    if (CommandError refused = ChooseSettings(options, output, settings)) return refused;
    Target target{Target::Kind::kPicture, output, pattern, OutputName::kGiven, settings, {}};
    if (pattern) {
      if (settings.format->manyFrames) {
        return {output + " names a sequence of pictures, but " + settings.format->title +
                    " holds a stream of frames in one file: leave the frame number out",
                kExitUsage};
      }
      target.kind = Target::Kind::kSequence;
    } else if (settings.format->manyFrames) {
      target.kind = Target::Kind::kStream;
    } else if (inputs.size() > 1) {
      return {"several inputs go to --out-dir, to one stream (" + StreamSuffixes() +
                  ") or to a numbered sequence (as frames/%04d.png), not to the one picture " + output,
              kExitUsage};
    }
    jobs.push_back({inputs, target});
    outputs.push_back(pattern ? FrameName(*pattern, 1) : output);
  }
  std::vector<std::string> read = inputs;
  if (!options.mask.empty()) read.push_back(options.mask);
  if (std::count(read.begin(), read.end(), "-") > 1) {
    return {"standard input ('-') can be read only once: give it as one input only", kExitUsage};
  }
  for (const std::string& output : outputs) {
    if (CommandError refused = CheckOutputTarget(output)) return refused;
  }
  const InputFiles readFiles = InputFiles::Of(read);
  std::string error;
  for (const std::string& output : outputs) {
    if (error.empty()) error = readFiles.Refusal(output);
  }
  if (error.empty() && pattern) {
    // Any name of the sequence may be an input's (the mask's too): such a
    // name is refused now, and any other file a frame would replace is
    // refused when that frame comes (see FrameSink).
    for (const std::string& input : read) {
      if (input != "-" && SequenceNames(*pattern, input)) {
        error = input + " is a name of the sequence " + jobs.front().target.path +
                ", which would replace it; nothing written";
        break;
      }
    }
    jobs.front().target.inputs = readFiles;
  }
  if (!error.empty()) return {error, kExitFailure};
  return ProbeSizes(options, jobs, totalFrames);
}

// One note for each option given that has no effect in this run.
void NoteOptionsWithoutEffect(const Options& options, const std::vector<Job>& jobs, Progress& progress) {
  std::vector<const Format*> written;
  std::vector<std::string> inputs;
  for (const Job& job : jobs) {
    written.push_back(job.target.settings.format);
    inputs.insert(inputs.end(), job.inputs.begin(), job.inputs.end());
  }
  // The formats that take an option to write: "JPEG", "YUV4MPEG2 and raw .yuv".
  auto writtenWith = [](const std::string& option) {
    std::vector<std::string> titles;
    for (const Format& format : AllFormats()) {
      if (HasWord(format.writeOptions, option)) titles.emplace_back(format.title);
    }
    return JoinWords(titles, ", ", " and ");
  };
  auto halves = [&](const char* option) {
    return Is420(options.given.Get<SamplingChoice>(option).value_or(SamplingChoice::k444));
  };
  auto note = [&](const std::string& option, const std::string& why) {
    if (options.Given(option)) progress.Note(option + " has no effect: " + why);
  };
  for (const FormatOptionUse& use : FormatOptionsGiven(options, written, inputs)) {
    if (use.name == "--chroma-siting") {
      // The siting matters only where chroma is halved down as well as across.
      if (!(halves("--sampling") && use.written) && !(halves("--input-sampling") && use.read)) {
        note(use.name, "no 4:2:0 chroma is written, and none is read from raw planes");
      }
    } else if (use.writing && !use.written) {
      note(use.name, "it shapes " + writtenWith(use.name) + " outputs, and none is written");
    } else if (use.reading && !use.read) {
      note(use.name, "no input is read as raw planes (a .yuv name, or '-')");
    }
  }
  if (options.mask.empty()) note("--mask-threshold", "it applies to a --mask, and none is given");
  if (!options.mask.empty()) note("--exact", "a conversion through --mask is always exact");
}

}  // namespace cstool

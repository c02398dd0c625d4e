// colorspace convert: one file, or many into a directory, several at a time.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "commands/Commands.h"
#include "shared/OutputFile.h"

namespace cstool {
namespace {

struct Job {
  std::string input;
  std::string output;
  OutputName name = OutputName::kGiven;
  WriteSettings settings;
};

// What converting one picture means, once its record and the options are
// known.
struct Plan {
  Model from = Model::kRGB;
  Model to = Model::kRGB;
  std::vector<std::uint8_t> selection;  // empty: every pixel
  bool exact = false;
  ModelRecord result;
};

std::vector<std::uint8_t> Complement(const std::vector<std::uint8_t>& selection) {
  std::vector<std::uint8_t> complement(selection.size());
  for (std::size_t i = 0; i < selection.size(); ++i) complement[i] = selection[i] != 0 ? 0 : 1;
  return complement;
}

// A file that carries a selection goes back to a single model through that
// selection, or is refused: its two parts can only be joined, never split
// further.
std::string PlanMixed(const std::string& path, const ModelRecord& record, const Options& options,
                      const std::vector<std::uint8_t>* mask, Plan& plan) {
  const Model inside = *record.model;
  const Model outside = *record.outside;
  const std::string what =
      path + " is mixed (" + NameOf(inside) + " inside its recorded selection, " + NameOf(outside) + " outside)";
  if (options.from) return what + "; --from does not apply to it";
  if (mask != nullptr && *mask != record.selection) {
    return what + "; it is converted through its own selection, so a different --mask is refused";
  }
  if (*options.to == outside) {
    plan = {inside, outside, record.selection, true, {}};
  } else if (*options.to == inside) {
    plan = {outside, inside, Complement(record.selection), true, {}};
  } else {
    return what + "; converting it to " + NameOf(*options.to) + " would mix models further: convert it to " +
           NameOf(inside) + " or " + NameOf(outside) + " first";
  }
  if (!Convertible(plan.from, plan.to)) return what + ", which no conversion joins";
  plan.result.model = plan.to;
  return {};
}

std::string MakePlan(const std::string& path, const ModelRecord& record, const Options& options,
                     const std::vector<std::uint8_t>* mask, Plan& plan) {
  if (record.Mixed()) return PlanMixed(path, record, options, mask, plan);
  Model model = options.from.value_or(Model::kRGB);
  if (record.model) {
    if (options.from && *options.from != *record.model) {
      return path + " is recorded as " + NameOf(*record.model) + ", not " + NameOf(*options.from);
    }
    model = *record.model;
  }
  const Model to = *options.to;
  if (model == to) return path + " is already " + NameOf(to);
  if (!Convertible(model, to)) {
    return "no direct conversion from " + std::string(NameOf(model)) + " to " + NameOf(to) + " (" + path +
           "); convert to rgb first";
  }
  plan.from = model;
  plan.to = to;
  plan.result.model = to;
  plan.exact = options.exact;
  if (mask != nullptr) {
    plan.selection = *mask;
    plan.exact = true;
    // A mask that selects every pixel leaves nothing of the old model.
    if (std::find(mask->begin(), mask->end(), 0) != mask->end()) {
      plan.result.outside = model;
      plan.result.selection = *mask;
    }
  }
  return {};
}

// A mask pixel selects when its brightest of red, green and blue exceeds
// --mask-threshold and the pixel is not fully transparent: a mask is an rgb
// picture, and one that records another model, or a YUV4MPEG2 file, is
// refused (its black has chroma 128, which would select).
std::string LoadMask(const Options& options, MemoryBudget::Account& memory, std::vector<std::uint8_t>& mask,
                     std::int32_t& width, std::int32_t& height, Progress& progress) {
  Picture picture;
  Options asRgb = options;
  asRgb.from.reset();
  std::string error = ReadPicture(options.mask, asRgb, memory, picture, progress);
  const bool notRgb =
      picture.needsModel || picture.record.Mixed() || (picture.record.model && *picture.record.model != Model::kRGB);
  if (notRgb || (!error.empty() && picture.needsModel)) {
    const std::string what = picture.needsModel || !picture.record.model
                                 ? std::string("holds luma and colour-difference planes")
                                 : "is recorded as " + Describe(picture.record);
    return "the mask " + options.mask + " " + what +
           "; a mask is an rgb picture (a pixel selects where it is bright): convert it --to rgb first";
  }
  if (!error.empty()) return error;
  width = picture.width;
  height = picture.height;
  mask.resize(picture.Pixels());
  std::size_t selected = 0;
  const int threshold = options.maskThreshold;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const std::uint8_t* pixel = &picture.bgra[4 * i];
    const int brightest = std::max({pixel[0], pixel[1], pixel[2]});
    mask[i] = brightest > threshold && pixel[3] != 0 ? 1 : 0;
    selected += mask[i];
  }
  if (selected == 0) {
    return "the mask " + options.mask + " selects no pixel (a pixel selects when its brightest component exceeds " +
           std::to_string(threshold) + " and it is not fully transparent); nothing written";
  }
  if (picture.lossy && threshold < kJpegMaskThreshold) {
    progress.Note("the mask " + options.mask +
                  " is a JPEG, whose compression noise makes pixels near black select; --mask-threshold " +
                  std::to_string(kJpegMaskThreshold) + " (or a PNG mask) leaves them out");
  }
  return {};
}

std::string ConvertOne(const Job& job, const Options& options, const std::vector<std::uint8_t>* mask,
                       std::int32_t maskWidth, std::int32_t maskHeight, MemoryBudget& budget, Progress& progress) {
  MemoryBudget::Account memory(&budget);
  Picture picture;
  std::string error = ReadPicture(job.input, options, memory, picture, progress);
  if (!error.empty()) return error;
  if (mask != nullptr && (maskWidth != picture.width || maskHeight != picture.height)) {
    return "the mask " + options.mask + " is " + std::to_string(maskWidth) + "x" + std::to_string(maskHeight) + ", " +
           job.input + " is " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
  }
  if (picture.record.Mixed() && picture.record.selection.empty()) {
    // Another program kept the record but dropped the selection chunk.
    if (options.forgetSelection) {
      picture.record = ModelRecord{};
    } else if (mask != nullptr) {
      picture.record.selection = *mask;
    } else {
      return job.input +
             " is recorded as mixed, but its selection chunk is missing (another program may have "
             "dropped it): give the selection again with --mask, or --forget-selection";
    }
  }
  Plan plan;
  error = MakePlan(job.input, picture.record, options, mask, plan);
  if (!error.empty()) return error;
  error = ConvertPixels(picture, plan.from, plan.to, plan.selection.empty() ? nullptr : &plan.selection, plan.exact);
  if (!error.empty()) return job.input + ": " + error;
  picture.record = std::move(plan.result);
  return WritePicture(job.output, picture, job.settings, progress, &memory, job.name);
}

// One job, whatever goes wrong in it: an exception is that file's failure.
std::string ConvertOneSafely(const Job& job, const Options& options, const std::vector<std::uint8_t>* mask,
                             std::int32_t maskWidth, std::int32_t maskHeight, MemoryBudget& budget,
                             Progress& progress) noexcept {
  try {
    return ConvertOne(job, options, mask, maskWidth, maskHeight, budget, progress);
  } catch (const std::bad_alloc&) {
    return job.input + ": out of memory";
  } catch (const std::length_error&) {
    return job.input + ": too large to hold in memory";
  } catch (const std::exception& error) {
    return job.input + ": " + error.what();
  } catch (...) {
    return job.input + ": failed";
  }
}

// What every output is written as, refused before anything is read when
// the format cannot hold the result the options ask for.
std::string ChooseSettings(const Options& options, WriteSettings& settings) {
  settings = PngSettings(options);
  std::string error;
  std::string output = "the outputs";
  if (!options.outDir.empty()) {
    if (!options.imageFormat.empty()) settings.format = *FormatNamed(options.imageFormat);
  } else if (options.operands.size() == 2) {
    output = options.operands[1];
    error = ChooseFormat(output, options.imageFormat, settings.format);
  } else {
    return {};  // ListJobs refuses
  }
  if (error.empty()) {
    ModelRecord result;
    result.model = options.to;
    if (!options.mask.empty()) result.outside = Model::kRGB;  // a masked result is mixed
    error = RefusalFor(settings.format, result, output);
    if (!error.empty()) error += "; nothing written";
  }
  return error;
}

// Lists the jobs, refusing before anything is written (the output
// directory included) an output that is one of the inputs or two inputs
// that would land on the same output; `usage` tells a usage error.
std::string ListJobs(const Options& options, const WriteSettings& settings, std::vector<Job>& jobs, bool& usage) {
  namespace fs = std::filesystem;
  usage = true;
  if (!options.outDir.empty()) {
    if (options.operands.empty()) return "convert needs at least one input";
    usage = false;
    std::map<std::string, std::string> byOutput;
    for (const std::string& input : options.operands) {
      const std::string output =
          (fs::path(options.outDir) / fs::path(input).filename().replace_extension(SuffixOf(settings.format))).string();
      const auto [where, fresh] = byOutput.emplace(output, input);
      if (!fresh) return where->second + " and " + input + " would both be written to " + output;
      jobs.push_back({input, output, OutputName::kMade, settings});
    }
  } else {
    if (options.operands.size() != 2) return "convert takes INPUT OUTPUT, or --out-dir DIR INPUT...";
    jobs.push_back({options.operands[0], options.operands[1], OutputName::kGiven, settings});
  }
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  for (const Job& job : jobs) {
    inputs.push_back(job.input);
    outputs.push_back(job.output);
  }
  if (!options.mask.empty()) inputs.push_back(options.mask);
  if (std::count(inputs.begin(), inputs.end(), "-") > 1) {
    usage = true;
    return "standard input ('-') can be read only once: give it as one input only";
  }
  usage = false;
  for (const std::string& output : outputs) {
    const std::string error = CheckDescriptorOutput(output);
    if (!error.empty()) return error;
  }
  return CheckNotAnInput(outputs, inputs);
}

// Made only once nothing refuses the batch.
std::string MakeOutputDirectory(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(dir, error);
  std::error_code typeError;
  if (fs::is_directory(dir, typeError)) return {};
  if (!error) error = typeError;
  return "cannot use " + dir + " as the output directory" +
         (error ? ": " + error.message() : std::string(": it is not a directory"));
}

}  // namespace

int RunConvert(const Options& options) {
  if (!options.to) return Fail("convert needs --to MODEL (see colorspace convert --help)", kExitUsage);
  WriteSettings settings;
  std::string error = ChooseSettings(options, settings);
  if (!error.empty()) return Fail(error, kExitUsage);
  std::vector<Job> jobs;
  bool usage = false;
  error = ListJobs(options, settings, jobs, usage);
  if (!error.empty()) return Fail(error, usage ? kExitUsage : kExitFailure);

  Progress progress(jobs.size());
  MemoryBudget budget(MemoryBudgetBytes(options));
  MemoryBudget::Account maskMemory(&budget, true);
  std::vector<std::uint8_t> mask;
  std::int32_t maskWidth = 0;
  std::int32_t maskHeight = 0;
  if (!options.mask.empty()) {
    try {
      error = LoadMask(options, maskMemory, mask, maskWidth, maskHeight, progress);
    } catch (const std::bad_alloc&) {
      error = options.mask + ": out of memory";
    }
    if (!error.empty()) return Fail(error);
  }
  const std::vector<std::uint8_t>* maskOrNull = options.mask.empty() ? nullptr : &mask;
  if (!options.outDir.empty()) {
    error = MakeOutputDirectory(options.outDir);
    if (!error.empty()) return Fail(error);
  }

  // The library is stateless and thread-safe: files are simply shared out;
  // one file alone gets every thread for its compression.
  const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
  const std::size_t given =
      static_cast<std::size_t>(options.jobs > 0 ? static_cast<unsigned>(options.jobs) : processors);
  const std::size_t workers = std::min(jobs.size(), given);
  if (jobs.size() == 1) jobs[0].settings.threads = static_cast<int>(given);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() noexcept {
    for (std::size_t j = next++; j < jobs.size(); j = next++) {
      const std::string jobError =
          ConvertOneSafely(jobs[j], options, maskOrNull, maskWidth, maskHeight, budget, progress);
      if (!jobError.empty()) {
        progress.Error(jobError);
        failed = true;
      }
      progress.Done(jobs[j].input);
    }
  };
  {
    // A thread that cannot start leaves fewer workers; the threads are
    // joined when this block ends, however it ends.
    std::vector<std::jthread> threads;
    try {
      threads.reserve(workers);
      for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    work();
  }
  progress.Finish();
  return failed ? kExitFailure : kExitOk;
}

}  // namespace cstool

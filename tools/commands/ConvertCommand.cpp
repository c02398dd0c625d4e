// colorspace convert: pictures and streams of frames, one input to one
// output, many into a directory several at a time, or many into one stream
// or one numbered sequence of pictures.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "commands/ConvertJobs.h"
#include "shared/InputFile.h"
#include "shared/OutputFile.h"

namespace cstool {
namespace {

// The selection --mask gives, the same for every picture.
struct Mask {
  std::string path;
  std::vector<std::uint8_t> selection;
  bool everyPixel = false;  // it selects them all: nothing of the old model is left
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// What converting one picture means, once its record and the options are
// known.
struct Plan {
  Model from = Model::kRGB;
  Model to = Model::kRGB;
  const std::vector<std::uint8_t>* selection = nullptr;  // none: every pixel
  bool exact = false;
  ModelRecord result;
  std::string note;                      // for a plan that changes only the format
  std::vector<std::uint8_t> complement;  // a recorded selection's other side, when that is converted
};

std::vector<std::uint8_t> Complement(const std::vector<std::uint8_t>& selection) {
  std::vector<std::uint8_t> complement(selection.size());
  for (std::size_t i = 0; i < selection.size(); ++i) complement[i] = selection[i] != 0 ? 0 : 1;
  return complement;
}

// A file that carries a selection goes back to a single model through that
// selection, or is refused: its two parts can only be joined, never split
// further.
std::string PlanMixed(const std::string& path, const ModelRecord& record, const Options& options, const Mask* mask,
                      Plan& plan) {
  const Model inside = *record.model;
  const Model outside = *record.outside;
  const std::string what =
      path + " is mixed (" + NameOf(inside) + " inside its recorded selection, " + NameOf(outside) + " outside)";
  if (options.from) return what + "; --from does not apply to it";
  if (mask != nullptr && mask->selection != record.selection) {
    return what + "; it is converted through its own selection, so a different --mask is refused";
  }
  plan.exact = true;
  if (*options.to == outside) {
    plan.from = inside;
    plan.to = outside;
    plan.selection = &record.selection;
  } else if (*options.to == inside) {
    plan.from = outside;
    plan.to = inside;
    plan.complement = Complement(record.selection);
    plan.selection = &plan.complement;
  } else {
    return what + "; converting it to " + NameOf(*options.to) + " would mix models further: convert it to " +
           NameOf(inside) + " or " + NameOf(outside) + " first";
  }
  if (plan.from == plan.to) return what + ", which no conversion joins";
  plan.result.model = plan.to;
  return {};
}

// `record` is kept as it is until the pixels are converted: the plan may
// point at its selection.
std::string MakePlan(const std::string& path, const ModelRecord& record, const Options& options, const Mask* mask,
                     Plan& plan) {
  plan = Plan{};
  if (record.Mixed()) return PlanMixed(path, record, options, mask, plan);
  Model model = Model::kRGB;
  const std::string error = ModelOf(path, record, options, model);
  if (!error.empty()) return error;
  const Model to = *options.to;
  plan.from = model;
  plan.to = to;
  plan.result.model = to;
  plan.exact = options.exact;
  if (model == to) {
    // A change of format only: the pixels are copied as they are.
    const std::string taken = record.model || options.from
                                  ? std::string()
                                  : " (it records no model, so it is taken as rgb; --from names another)";
    plan.note = path + " is already " + NameOf(to) + taken + ": its pixels are copied unchanged";
    return {};
  }
  if (mask != nullptr) {
    plan.selection = &mask->selection;
    plan.exact = true;
    if (!mask->everyPixel) {
      plan.result.outside = model;
      plan.result.selection = mask->selection;
    }
  }
  return {};
}

// A mask pixel selects when its brightest of red, green and blue exceeds
// --mask-threshold and the pixel is not fully transparent: a mask is an rgb
// picture, and one that records another model, or a file of planes
// (YUV4MPEG2, raw), is refused (its black has chroma 128, which would
// select).
std::string LoadMask(const Options& options, MemoryBudget::Account& memory, Mask& loaded, Progress& progress) {
  std::vector<std::uint8_t>& mask = loaded.selection;
  loaded.path = options.mask;
  Picture picture;
  // Read as it is: --from is the inputs', never the mask's.
  ReadOptions read = ReadOptionsFor(options, &memory);
  read.modelGiven = false;
  const ReadResult result = ReadImage(options.mask, read, picture);
  if (picture.needsModel || picture.record.Mixed() || (picture.record.model && *picture.record.model != Model::kRGB)) {
    const std::string what = picture.needsModel ? std::string("holds luma and colour-difference planes")
                                                : "is recorded as " + Describe(picture.record);
    return "the mask " + options.mask + " " + what +
           "; a mask is an rgb picture (a pixel selects where it is bright): convert it --to rgb first";
  }
  if (!result.Ok()) return result.error;
  for (const std::string& note : result.notes) progress.Note(note);
  loaded.width = picture.width;
  loaded.height = picture.height;
  mask.resize(picture.Pixels());
  std::size_t selected = 0;
  const int threshold = options.maskThreshold;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const std::uint8_t* pixel = &picture.bgra[4 * i];
    const int brightest = std::max({pixel[0], pixel[1], pixel[2]});
    mask[i] = brightest > threshold && pixel[3] != 0 ? 1 : 0;
    selected += mask[i];
  }
  loaded.everyPixel = selected == mask.size();
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

// One picture or frame, as read from `input`: checked against the mask,
// its lost selection restored or forgotten, converted as planned.
std::string ConvertFrame(const std::string& input, Picture& picture, const Options& options, const Mask* mask,
                         Plan& plan, Progress& progress, bool first) {
  std::string error = ApplyFrom(input, options, picture);
  if (!error.empty()) return error;
  if (mask != nullptr && (mask->width != picture.width || mask->height != picture.height)) {
    return "the mask " + mask->path + " is " + std::to_string(mask->width) + "x" + std::to_string(mask->height) + ", " +
           input + " is " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
  }
  const bool lost = picture.record.Mixed() && picture.record.selection.empty();
  if (first && options.forgetSelection && !lost) {
    progress.Note("--forget-selection has no effect on " + input + ": it has no lost selection to forget");
  }
  if (lost) {
    // Another program kept the record but dropped the selection chunk.
    if (options.forgetSelection) {
      picture.record = ModelRecord{};
    } else if (mask != nullptr) {
      picture.record.selection = mask->selection;
    } else {
      return input +
             " is recorded as mixed, but its selection chunk is missing (another program may have "
             "dropped it): give the selection again with --mask, or --forget-selection";
    }
  }
  error = MakePlan(input, picture.record, options, mask, plan);
  if (!error.empty()) return error;
  if (plan.note.empty()) {
    error = ConvertPixels(picture, plan.from, plan.to, plan.selection, plan.exact);
    if (!error.empty()) return input + ": " + error;
    picture.record = std::move(plan.result);
  }
  return {};
}

// The frames of every input of the job, in order, into its target; one
// frame in memory at a time; `reading` follows the input being read. A
// stream cut short keeps the frames before the cut, a sequence the pictures
// already finished; any other failure leaves the target as it was.
std::string RunJob(const Job& job, const Options& options, const Mask* mask, MemoryBudget& budget, Progress& progress,
                   std::uint64_t totalFrames, std::size_t& reading) {
  FrameSink sink(job.target);
  std::uint64_t done = 0;
  std::string cut;
  for (std::size_t k = 0; k < job.inputs.size() && cut.empty(); ++k) {
    reading = k;
    const std::string& path = job.inputs[k];
    MemoryBudget::Account memory(&budget);
    ReadResult result;
    std::optional<InputFile> input = InputFile::Open(path, result.error);
    if (!input) return result.error;
    const std::unique_ptr<FrameReader> frames = OpenFrames(*input, ReadOptionsFor(options, &memory), result);
    for (const std::string& note : result.notes) progress.Note(note);
    if (frames == nullptr) return result.error;
    // A stream's rate, interlacing and pixel shape come from its first
    // input; a later one with other fields is refused, another rate noted.
    StreamInfo& stream = sink.Settings().stream;
    const StreamInfo& info = frames->Info();
    if (k == 0) {
      stream = info;
    } else if (info.interlace != stream.interlace) {
      return path + " is interlaced otherwise (I" + std::string(1, info.interlace) + ") than " + job.inputs.front() +
             " (I" + std::string(1, stream.interlace) + "): a stream's frames have one interlacing; nothing written";
    } else if (info.rate && !options.Given("--fps") && *info.rate != stream.rate.value_or(FrameRate{})) {
      progress.Note(path + " runs at " + std::to_string(info.rate->numerator) + ":" +
                    std::to_string(info.rate->denominator) +
                    " frames a second; the stream is written at the first "
                    "input's rate (--fps sets one)");
    }
    Picture picture;
    bool first = true;
    for (;;) {
      result = ReadResult{};
      if (!frames->Next(picture, result)) break;
      for (const std::string& note : result.notes) progress.Note(note);
      Plan plan;
      std::string error = ConvertFrame(path, picture, options, mask, plan, progress, first);
      if (!error.empty()) return error;
      if (first && !plan.note.empty()) progress.Note(plan.note);
      first = false;
      // One picture takes one frame: a second is found before the first is
      // written, so that nothing goes out, even to a stream.
      if (job.target.kind == Target::Kind::kPicture && frames->MoreFrames()) {
        return path + " holds more than one frame, and " + job.target.path +
               " is one picture: name the output with a frame number (as frames/%04d.png) for a picture a frame, "
               "or write a stream (" +
               StreamSuffixes() + "); nothing written";
      }
      error = sink.Add(picture, &memory);
      if (!error.empty()) return error;
      ++done;
      if (job.target.kind != Target::Kind::kPicture) progress.Frame(done, totalFrames, path);
    }
    for (const std::string& note : result.notes) progress.Note(note);
    if (!result.Ok()) {
      // A stream cut short: the frames before the cut are kept, unless
      // keeping them would replace a file that was there.
      if (sink.Frames() == 0 || job.target.kind == Target::Kind::kPicture) return result.error;
      if (sink.Replaces()) return result.error + "; " + job.target.path + " is left as it was";
      cut = result.error + "; the " + std::to_string(sink.Frames()) + (sink.Frames() == 1 ? " frame" : " frames") +
            " before it " + (sink.Frames() == 1 ? "is" : "are") + " in " +
            (job.target.kind == Target::Kind::kSequence ? "the sequence " : "") + job.target.path;
    }
  }
  if (sink.Frames() == 0) return job.inputs.front() + " holds no frame; nothing written";
  const std::string error = sink.Finish();
  TellNotes(sink.Notes(), progress);
  return error.empty() ? cut : error;
}

// One job, whatever goes wrong in it: an exception is the failure of the
// input being read.
std::string RunJobSafely(const Job& job, const Options& options, const Mask* mask, MemoryBudget& budget,
                         Progress& progress, std::uint64_t totalFrames) noexcept {
  std::size_t reading = 0;
  char why[256] = "failed";  // kept without allocating: memory may be what ran out
  try {
    return RunJob(job, options, mask, budget, progress, totalFrames, reading);
  } catch (const std::bad_alloc&) {
    std::snprintf(why, sizeof why, "out of memory");
  } catch (const std::length_error&) {
    std::snprintf(why, sizeof why, "too large to hold in memory");
  } catch (const std::exception& error) {
    std::snprintf(why, sizeof why, "%s", error.what());
  } catch (...) {
  }
  try {
    return job.inputs[reading] + ": " + why;
  } catch (...) {
    return "out of memory";  // short enough to need no allocation
  }
}

}  // namespace

int RunConvert(const Options& options) {
  if (!options.to) return Fail("convert needs --to MODEL (see colorspace convert --help)", kExitUsage);
  std::vector<Job> jobs;
  std::uint64_t totalFrames = 0;
  if (const CommandError refused = PlanJobs(options, jobs, totalFrames)) {
    return Fail(refused.message, refused.status);
  }

  Progress progress(jobs.size());
  NoteOptionsWithoutEffect(options, jobs, progress);
  MemoryBudget budget(MemoryBudgetBytes(options));
  MemoryBudget::Account maskMemory(&budget, true);
  Mask mask;
  if (!options.mask.empty()) {
    std::string error;
    try {
      error = LoadMask(options, maskMemory, mask, progress);
    } catch (const std::bad_alloc&) {
      error = options.mask + ": out of memory";
    }
    if (!error.empty()) return Fail(error);
    // The picture is gone: the run holds only the selection, a byte a pixel.
    maskMemory.Shrink(maskMemory.Held() - std::min<std::uint64_t>(maskMemory.Held(), mask.selection.capacity()));
  }
  const Mask* maskOrNull = options.mask.empty() ? nullptr : &mask;
  if (!options.outDir.empty()) {
    const std::string error = MakeFolder(options.outDir);
    if (!error.empty()) return Fail(error);
  }

  // The library is stateless and thread-safe: jobs are simply shared out;
  // one job alone gets every thread for compressing its pictures.
  const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
  const std::size_t given =
      static_cast<std::size_t>(options.jobs > 0 ? static_cast<unsigned>(options.jobs) : processors);
  const std::size_t workers = std::min(jobs.size(), given);
  if (jobs.size() == 1) jobs[0].target.settings.threads = static_cast<int>(given);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() noexcept {
    for (std::size_t j = next++; j < jobs.size(); j = next++) {
      const std::string jobError =
          RunJobSafely(jobs[j], options, maskOrNull, budget, progress, jobs.size() == 1 ? totalFrames : 0);
      if (!jobError.empty()) {
        progress.Error(jobError);
        failed = true;
      }
      progress.Done(jobs[j].inputs.front());
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

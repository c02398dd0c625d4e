// Where a conversion's frames go: one picture, a numbered sequence of
// pictures, or one stream.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "formats/Format.h"
#include "shared/OutputFile.h"

namespace cstool {

// A name with one frame number in it, as ffmpeg's image2 names a sequence:
// %d, or %Nd and %0Nd for a width; %% is a literal %. The first frame is 1.
struct FramePattern {
  std::string before;
  std::string after;
  int width = 0;
  bool zeros = false;
};
// The pattern in `path`, or nothing when it holds no frame number; `error`
// set when it holds more than one.
std::optional<FramePattern> ParseFramePattern(const std::string& path, std::string& error);
std::string FrameName(const FramePattern& pattern, std::uint64_t frame);
// Whether `path` is one of the pattern's names, as its folder is reached
// from here (./a/f1.png and a/../a/f1.png are a/f%d.png's first name too).
bool SequenceNames(const FramePattern& pattern, const std::string& path);

struct Target {
  enum class Kind { kPicture, kSequence, kStream };
  Kind kind = Kind::kPicture;
  std::string path;  // the output's name, or the sequence's pattern as given
  std::optional<FramePattern> pattern;
  OutputName name = OutputName::kGiven;
  WriteSettings settings;
  InputFiles inputs;  // for a sequence: what no picture of it may replace
};

class FrameSink {
 public:
  explicit FrameSink(Target target) : target_(std::move(target)) {}
  FrameSink(const FrameSink&) = delete;
  FrameSink& operator=(const FrameSink&) = delete;

  WriteSettings& Settings() { return target_.settings; }
  // Writes one frame: a picture's output, or a frame of the sequence or the
  // stream (the first opens it). Returns an error line.
  std::string Add(const Picture& frame, MemoryBudget::Account* memory);
  // Puts the output in place with what was written. Returns an error line.
  std::string Finish();
  std::uint64_t Frames() const { return frames_; }
  // Whether finishing replaces a file that was there.
  bool Replaces() const { return output_ && output_->Replaces(); }
  // What was left out of the frames written, once each.
  const NoteList& Notes() const { return notes_; }

 private:
  std::string NameOfFrame(std::uint64_t frame) const;
  std::string WriteFrame(const Picture& frame, const std::string& path, MemoryBudget::Account* memory);

  Target target_;
  std::optional<OutputFile> output_;  // a picture's or a stream's, until Finish
  std::unique_ptr<FrameWriter> writer_;
  NoteList notes_;
  std::uint64_t frames_ = 0;
};

}  // namespace cstool

#include "commands/FrameSink.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "commands/Commands.h"
#include "formats/Formats.h"

namespace cstool {

std::optional<FramePattern> ParseFramePattern(const std::string& path, std::string& error) {
  FramePattern pattern;
  bool found = false;
  std::string* part = &pattern.before;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      *part += path[i];
      continue;
    }
    if (i + 1 < path.size() && path[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    std::size_t at = i + 1;
    const bool zeros = at < path.size() && path[at] == '0';
    if (zeros) ++at;
    int width = 0;
    while (at < path.size() && path[at] >= '0' && path[at] <= '9' && width < 100)
      width = 10 * width + (path[at++] - '0');
    if (at >= path.size() || path[at] != 'd' || width >= 100) {
      *part += '%';  // not a frame number: a % of the name
      continue;
    }
    if (found) {
      error = path + " holds more than one frame number (%d); a sequence's names hold one";
      return std::nullopt;
    }
    found = true;
    pattern.zeros = zeros;
    pattern.width = width;
    part = &pattern.after;
    i = at;
  }
  if (!found) return std::nullopt;
  return pattern;
}

std::string FrameName(const FramePattern& pattern, std::uint64_t frame) {
  std::string number = std::to_string(frame);
  if (number.size() < static_cast<std::size_t>(pattern.width)) {
    number.insert(0, static_cast<std::size_t>(pattern.width) - number.size(), pattern.zeros ? '0' : ' ');
  }
  return pattern.before + number + pattern.after;
}

bool SequenceNames(const FramePattern& pattern, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  auto normal = [&](const std::string& name) { return fs::absolute(name, ignored).lexically_normal().string(); };
  // The pattern with a stand-in for its number, made a whole path as the
  // name is.
  const std::string whole = normal(pattern.before + '\x01' + pattern.after);
  const std::size_t at = whole.find('\x01');
  const std::string before = whole.substr(0, at);
  const std::string after = whole.substr(at + 1);
  const std::string name = normal(path);
  if (name.size() <= before.size() + after.size() || name.compare(0, before.size(), before) != 0 ||
      name.compare(name.size() - after.size(), after.size(), after) != 0) {
    return false;
  }
  const std::string number = name.substr(before.size(), name.size() - before.size() - after.size());
  const std::size_t digits = number.find_first_not_of(' ');
  return digits != std::string::npos && number.find_first_not_of("0123456789", digits) == std::string::npos;
}

std::string FrameSink::NameOfFrame(std::uint64_t frame) const {
  return target_.pattern ? FrameName(*target_.pattern, frame) : target_.path;
}

std::string FrameSink::WriteFrame(const Picture& frame, const std::string& path, MemoryBudget::Account* memory) {
  const Format& format = *target_.settings.format;
  const WriteContext context{target_.settings, memory, KeptMetadata(frame.metadata, format, path, notes_), notes_};
  errno = 0;
  const std::string error = writer_->Write(frame, context);
  return error.empty() ? error : WriteError(path, output_->Stream(), error);
}

std::string FrameSink::Add(const Picture& frame, MemoryBudget::Account* memory) {
  const Format& format = *target_.settings.format;
  const std::uint64_t number = frames_ + 1;
  const std::string path = NameOfFrame(number);
  std::string error = RefusalForPicture(path, frame, format);
  if (!error.empty()) return error;
  const WriteSettings& settings = target_.settings;
  if (Is420(settings.given.Get<SamplingChoice>("--sampling").value_or(SamplingChoice::k444)) &&
      settings.stream.interlace != 'p') {
    return "an interlaced stream is not written 4:2:0 (its chroma would mix the fields): write --sampling 422 or "
           "444; nothing written";
  }
  if (target_.kind == Target::Kind::kSequence) {
    error = target_.inputs.Refusal(path);
    if (!error.empty()) return error;
  }
  if (!output_) {
    std::optional<OutputFile> output = OutputFile::Open(path, target_.name, error);
    if (!output) return error;
    output_.emplace(std::move(*output));
    writer_ = format.openWriter(output_->Stream());
  }
  error = WriteFrame(frame, path, memory);
  if (!error.empty()) return error;
  frames_ = number;
  if (target_.kind == Target::Kind::kSequence) {
    // Each picture of a sequence is put in place as soon as it is whole.
    error = output_->Commit();
    output_.reset();
    writer_.reset();
  }
  return error;
}

std::string FrameSink::Finish() {
  if (!output_) return {};
  std::string error = output_->Commit();
  output_.reset();
  writer_.reset();
  return error;
}

}  // namespace cstool

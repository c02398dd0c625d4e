#include "shared/Messages.h"

#include <unistd.h>

#include <cstdio>
#include <new>

namespace cstool {
namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  out += escaped;
}

}  // namespace

std::string Printable(const std::string& text, std::size_t maxBytes) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == maxBytes) return out + "...";
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte >= 0x7F) {
      AppendEscaped(out, byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

std::string JoinWords(const std::vector<std::string>& words, const std::string& between, const std::string& last) {
  std::string joined;
  for (std::size_t i = 0; i < words.size(); ++i) {
    joined += (i == 0 ? "" : (i + 1 == words.size() ? last : between)) + words[i];
  }
  return joined;
}

std::string WithoutControls(const std::string& line) {
  std::string out;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscaped(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

void NoteList::Add(const std::string& note) {
  for (auto& [text, count] : notes_) {
    if (text == note) {
      ++count;
      return;
    }
  }
  if (notes_.size() == kMaxNotes) {
    ++more_;
    return;
  }
  notes_.emplace_back(note, 1);
}

std::vector<std::string> NoteList::Lines() const {
  std::vector<std::string> lines;
  for (const auto& [text, count] : notes_) {
    lines.push_back(count == 1 ? text : text + " (" + std::to_string(count) + " times)");
  }
  if (more_ > 0) lines.push_back(std::to_string(more_) + " more notes like these");
  return lines;
}

Progress::Progress(std::size_t total) : total_(total), terminal_(::isatty(STDERR_FILENO) != 0) {
  enabled_ = total > 1 && terminal_;
}

void Progress::Draw() {
  if (!enabled_) return;
  if (frame_ > 0) {
    const std::string of = frames_ > 0 ? " of " + std::to_string(frames_) : std::string();
    std::fprintf(stderr, "\r\033[K[frame %llu%s] %s", static_cast<unsigned long long>(frame_), of.c_str(),
                 WithoutControls(last_).c_str());
  } else {
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done_, total_, WithoutControls(last_).c_str());
  }
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Frame(std::uint64_t done, std::uint64_t total, const std::string& name) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Only the one job of a run counts frames on the line.
  if (total_ != 1 || !terminal_) return;
  enabled_ = true;
  frame_ = done;
  frames_ = total;
  DrawFor(name);
}

void Progress::DrawFor(const std::string& name) noexcept {
  try {
    last_ = name;
    Draw();
  } catch (const std::bad_alloc&) {
    // The line waits for the next file or frame.
  }
}

void Progress::Say(const std::string& line) {
  if (drawn_) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", WithoutControls(line).c_str());
  if (drawn_) Draw();
}

void Progress::SayLine(const char* prefix, const std::string& text) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  try {
    Say(prefix + text);
  } catch (const std::bad_alloc&) {
    // No memory to escape the line: it goes out as it is.
    std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
  }
}

void Progress::Done(const std::string& name) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  DrawFor(name);
}

void Progress::Note(const std::string& text) noexcept { SayLine("colorspace: note: ", text); }

void Progress::Error(const std::string& text) noexcept { SayLine("colorspace: ", text); }

void Progress::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
  std::fflush(stderr);
}

}  // namespace cstool

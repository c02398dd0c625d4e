#include "Progress.h"

#include <unistd.h>

#include <cstdio>

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

Progress::Progress(std::size_t total) : total_(total), enabled_(total > 1 && ::isatty(STDERR_FILENO) != 0) {}

void Progress::Draw() {
  if (!enabled_) return;
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done_, total_, WithoutControls(last_).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Say(const std::string& line) {
  if (drawn_) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", WithoutControls(line).c_str());
  if (drawn_) Draw();
}

void Progress::Done(const std::string& name) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  last_ = name;
  Draw();
}

void Progress::Note(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Say("colorspace: note: " + text);
}

void Progress::Error(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Say("colorspace: " + text);
}

void Progress::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
  std::fflush(stderr);
}

}  // namespace cstool

#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace cstool {

Progress::Progress(std::size_t total) : total_(total), enabled_(total > 1 && ::isatty(STDERR_FILENO) != 0) {}

void Progress::Draw() {
  if (!enabled_) return;
  std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done_, total_, last_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Say(const std::string& line) {
  if (drawn_) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "%s\n", line.c_str());
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

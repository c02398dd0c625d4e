// Messages to the user on standard error, and for several files a progress
// line on a terminal. Notes and errors always get lines of their own: the
// progress line is cleared before them and drawn again after. Safe to use
// from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace cstool {

// Text from a file, safe to print: bytes outside printable ASCII become
// \xNN, and beyond `maxBytes` the rest becomes "...".
std::string Printable(const std::string& text, std::size_t maxBytes);
// A message line with its control bytes (a file name's newline, a terminal
// escape) written as \xNN; other bytes pass.
std::string WithoutControls(const std::string& line);

// "a, b or c": `words` between commas, `last` before the last one.
std::string JoinWords(const std::vector<std::string>& words, const std::string& between = ", ",
                      const std::string& last = " or ");

// Notes gathered while a file is read or written, told once each: a note
// that comes again is counted, not repeated, and beyond kMaxNotes
// different ones the rest are only counted.
class NoteList {
 public:
  static constexpr std::size_t kMaxNotes = 16;
  void Add(const std::string& note);
  // Each note once, "(N times)" after one that came N times.
  std::vector<std::string> Lines() const;

 private:
  std::vector<std::pair<std::string, std::size_t>> notes_;
  std::size_t more_ = 0;
};

class Progress {
 public:
  // The line is shown only for more than one file, on a terminal.
  explicit Progress(std::size_t total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // A file is done (successfully or not): "[done/total] name".
  void Done(const std::string& name) noexcept;
  // A frame of a stream is done: "[frame done of total] name", shown on a
  // terminal whatever the number of files; total 0: not known.
  void Frame(std::uint64_t done, std::uint64_t total, const std::string& name) noexcept;
  // "colorspace: note: ..." and "colorspace: ...", each on its own line.
  void Note(const std::string& text) noexcept;
  void Error(const std::string& text) noexcept;
  // Removes the progress line.
  void Finish();

 private:
  void Say(const std::string& line);
  void SayLine(const char* prefix, const std::string& text) noexcept;
  void Draw();
  void DrawFor(const std::string& name) noexcept;

  std::mutex mutex_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::string last_;
  std::uint64_t frame_ = 0;
  std::uint64_t frames_ = 0;
  bool enabled_;
  bool terminal_;
  bool drawn_ = false;
};

}  // namespace cstool

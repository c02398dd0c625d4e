// An input read once from its start: a file, a pipe, or "-" (standard
// input). Nothing is ever sought or rewound, so pipes work like files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cstool {

class InputFile {
 public:
  // Opens `path` ("-": standard input); on failure returns nothing and sets
  // `error`. A directory is refused.
  static std::optional<InputFile> Open(const std::string& path, std::string& error);
  // An open stream, read as `path`; the caller keeps it open and closes it.
  static InputFile FromStream(std::FILE* stream, const std::string& path);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Up to `size` bytes; fewer only at the end or on an error (see Failed).
  std::size_t Read(void* into, std::size_t size);
  // The first bytes not read yet, without consuming them: Read returns
  // them again.
  std::size_t Peek(void* into, std::size_t size);
  bool Failed() const { return failed_; }
  // The bytes left to read in a regular file; nothing for a pipe or a
  // device, whose end is known only when reached.
  std::optional<std::uint64_t> RemainingBytes() const;
  // Why reading failed, as the system says it.
  const std::string& Reason() const { return reason_; }
  const std::string& Path() const { return path_; }

 private:
  InputFile() = default;
  // Reads from the file, noting a failure.
  std::size_t FromFile(void* into, std::size_t size);

  std::string path_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::vector<unsigned char> pending_;  // peeked, not yet read
  bool failed_ = false;
  std::string reason_;
};

}  // namespace cstool

#include "shared/InputFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cstool {

std::optional<InputFile> InputFile::Open(const std::string& path, std::string& error) {
  InputFile input;
  input.path_ = path;
  if (path == "-") {
    input.file_ = stdin;
  } else {
    input.file_ = std::fopen(path.c_str(), "rb");
    input.owned_ = true;
    if (input.file_ == nullptr) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      return std::nullopt;
    }
  }
  struct stat status {};
  if (::fstat(::fileno(input.file_), &status) == 0 && S_ISDIR(status.st_mode)) {
    error = path + " is a directory";
    return std::nullopt;
  }
  return input;
}

InputFile InputFile::FromStream(std::FILE* stream, const std::string& path) {
  InputFile input;
  input.path_ = path;
  input.file_ = stream;
  return input;
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)),
      file_(other.file_),
      owned_(other.owned_),
      pending_(std::move(other.pending_)),
      failed_(other.failed_),
      reason_(std::move(other.reason_)) {
  other.file_ = nullptr;
  other.owned_ = false;
}

InputFile::~InputFile() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

std::size_t InputFile::Read(void* into, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(into);
  std::size_t done = std::min(size, pending_.size());
  if (done > 0) {  // an empty pending_ may have no storage at all
    std::memcpy(bytes, pending_.data(), done);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  }
  if (done < size && file_ != nullptr && !failed_) done += FromFile(bytes + done, size - done);
  return done;
}

std::size_t InputFile::FromFile(void* into, std::size_t size) {
  const std::size_t got = std::fread(into, 1, size, file_);
  if (std::ferror(file_) != 0) {
    failed_ = true;
    reason_ = std::strerror(errno);
  }
  return got;
}

std::optional<std::uint64_t> InputFile::RemainingBytes() const {
  struct stat status {};
  if (file_ == nullptr || ::fstat(::fileno(file_), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  // Where the stream stands (standard input may start anywhere in its
  // file), less what was only peeked at.
  const off_t at = ::ftello(file_);
  if (at < 0) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t read = static_cast<std::uint64_t>(at) - pending_.size();
  return size >= read ? size - read : 0;
}

std::size_t InputFile::Peek(void* into, std::size_t size) {
  if (pending_.size() < size && file_ != nullptr && !failed_) {
    const std::size_t had = pending_.size();
    pending_.resize(size);
    pending_.resize(had + FromFile(pending_.data() + had, size - had));
  }
  const std::size_t done = std::min(size, pending_.size());
  if (done > 0) std::memcpy(into, pending_.data(), done);
  return done;
}

}  // namespace cstool

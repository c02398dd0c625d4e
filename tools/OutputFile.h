// Writing an output so that nothing the user had is lost or damaged.
//
// A target that is absent or a regular file (symbolic links followed to
// their final target, so the link survives) is written through a temporary
// file beside it, made durable, and renamed over it only when complete; a
// replaced file keeps its permission bits. A device, a FIFO or "-" (standard
// output) is written directly as a stream. If the process is interrupted by
// SIGINT, SIGTERM or SIGHUP, the temporary files in progress are removed
// before it ends with the signal's usual status. Messages name the user's
// path, never the temporary one.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>

namespace cstool {

// Installs the signal handlers and notes the process's file creation mask.
// Call once, before any thread starts.
void PrepareOutputs();

// Where a path leads: its device and inode when it names an existing file
// (after symbolic links), so that an output can be checked against inputs.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

class OutputFile {
 public:
  // Opens `path` for writing as described above; on failure returns nothing
  // and sets `error`.
  static std::optional<OutputFile> Open(const std::string& path, std::string& error);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Abandons an uncommitted output: its temporary file is removed.
  ~OutputFile();

  std::FILE* Stream() const { return stream_; }
  // Finishes the output: flushes it, and for a file puts it in place.
  // Returns an empty string, or the reason it failed (nothing is then left
  // behind and an existing target is unchanged).
  std::string Commit();

 private:
  OutputFile() = default;
  void Abandon();

  std::string userPath_;   // as the user wrote it, for messages
  std::string target_;     // the file to replace (symbolic links resolved)
  std::string temporary_;  // empty when writing the target directly
  int slot_ = -1;          // registration for removal on a signal
  std::FILE* stream_ = nullptr;
  bool toStandardOutput_ = false;
};

}  // namespace cstool

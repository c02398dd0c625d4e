// Writing an output so that nothing the user had is lost or damaged.
//
// A target that is absent or a regular file (symbolic links followed to
// their final target, so the link survives) is written through a temporary
// file beside it, made durable, and renamed over it only when complete; a
// replaced file keeps its permission bits. A device, a FIFO or "-" (standard
// output) is written directly as a stream. A name the tool made itself
// (under --out-dir, or demo's) is never followed: a symbolic link, FIFO or
// device already there is refused. The temporary file is named
// ".NAME.colorspace-XXXXXX" (NAME shortened when the whole would be too
// long). If the process is ended by SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGUSR2 or SIGPIPE, the temporary files in progress are removed
// before it ends with the signal's usual status; a write beyond the file
// size limit (SIGXFSZ) fails that file only. Messages name the user's path,
// never the temporary one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace cstool {

// Blocks the handled signals and starts the one thread that takes them
// (every thread started later inherits the blocking), and notes the
// process's file creation mask. Call once, before any other thread starts.
void PrepareOutputs();

// Where a path leads: its device and inode when it names an existing file
// (after symbolic links), so that an output can be checked against inputs.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};
// "-" is standard input for an input, standard output for an output.
std::optional<FileIdentity> InputIdentity(const std::string& path);
std::optional<FileIdentity> OutputIdentity(const std::string& path);

enum class OutputName {
  kGiven,  // the user's own: links followed, devices and FIFOs written
  kMade,   // made by the tool: only absent or regular files, never followed
};

class OutputFile {
 public:
  // Opens `path` for writing as described above; on failure returns nothing
  // and sets `error`.
  static std::optional<OutputFile> Open(const std::string& path, OutputName name, std::string& error);

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

  std::string userPath_;    // as the user wrote it, for messages
  std::string target_;      // the file to replace (symbolic links resolved)
  std::string temporary_;   // empty when writing the target directly
  std::uint64_t slot_ = 0;  // registration for removal on a signal; 0: none
  std::FILE* stream_ = nullptr;
  bool toStandardOutput_ = false;
};

}  // namespace cstool

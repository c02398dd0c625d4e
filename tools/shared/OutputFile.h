// Writing an output so that nothing the user had is lost or damaged.
//
// A target that is absent or a regular file (symbolic links followed to
// their final target, so the link survives) is written through a temporary
// file beside it, made durable, and renamed over it only when complete; a
// replaced file keeps its permission bits, owner and group. One the user
// may not write is refused (as cp refuses it), and so is one whose owner or
// group the replacement could not keep. A device, a FIFO, "-" (standard
// output) and an open descriptor's name (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N) are written directly as a stream; a socket is refused. A
// name the tool made itself (under --out-dir, or demo's) is never followed:
// a symbolic link, FIFO or device already there is refused. The temporary
// file is named ".NAME.colorspace-XXXXXX" (NAME shortened when the whole
// would be too long). If the process is ended by one of kCleanedUpSignals,
// the temporary files in progress are removed before it ends with the
// signal's usual status; a write beyond the file size limit (SIGXFSZ)
// fails that file only. Messages name the user's path, never the temporary
// one.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cstool {

// The signals after which no temporary file is left.
inline constexpr int kCleanedUpSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,   SIGALRM,
                                            SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

// Blocks the handled signals and starts the one thread that takes them
// (every thread started later inherits the blocking), and notes the
// process's file creation mask. Call once, before any other thread starts.
// When the thread cannot start, the signals are left as they were and the
// returned note says so; otherwise it returns nothing.
std::string PrepareOutputs();

// Makes the folder `dir` if it is missing, but not its parent: a missing
// parent is more likely a typing slip than a wish. Returns an error line
// ("cannot use DIR as the output folder: ..."), or nothing.
std::string MakeFolder(const std::string& dir);

// Why an output would print picture bytes on a terminal, or nothing.
std::string CheckNotATerminal(const std::string& path);

// The descriptor a name stands for: /dev/stdout (1), /dev/stderr (2),
// /dev/fd/N and /proc/self/fd/N; nothing for any other name.
std::optional<int> DescriptorNamed(const std::string& path);
// The descriptor an output is written to directly: "-" is standard output.
std::optional<int> OutputDescriptor(const std::string& path);
// For an output named by a descriptor: an error line when that descriptor
// is not open now. Call before the tool opens any file, so that a number
// the tool itself takes later is never written as the user's output.
std::string CheckDescriptorOutput(const std::string& path);

// Where a path leads: its device and inode when it names an existing file
// (after symbolic links), so that an output can be checked against inputs.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// The files a run reads ("-": standard input), known by identity once, so
// that no output replaces one under any name.
struct InputFiles {
  std::vector<std::pair<std::string, FileIdentity>> files;
  static InputFiles Of(const std::vector<std::string>& paths);
  // "OUTPUT is the same file as the input INPUT; nothing written" when
  // `output` ("-": standard output) is one of them, else nothing.
  std::string Refusal(const std::string& output) const;
};

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
  // Whether committing replaces a file that was there (written through a
  // temporary file).
  bool Replaces() const { return replaces_; }
  // Finishes the output: flushes it, and for a file puts it in place.
  // Returns an empty string, or the reason it failed (nothing is then left
  // behind and an existing target is unchanged).
  std::string Commit();

 private:
  OutputFile() = default;
  void Abandon();
  // Writes directly to `fd` (a descriptor just opened, or -1 with errno
  // set); false, with `error` set, when it cannot.
  bool WriteTo(int fd, std::string& error);
  void Buffer();

  std::string userPath_;   // as the user wrote it, for messages
  std::string target_;     // the file to replace (symbolic links resolved)
  std::string temporary_;  // empty when writing the target directly
  bool replaces_ = false;
  std::uint64_t slot_ = 0;  // registration for removal on a signal; 0: none
  std::FILE* stream_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer; freed after it is closed
  bool toStandardOutput_ = false;   // stdout, which stays open
};

}  // namespace cstool

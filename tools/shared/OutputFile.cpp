#include "shared/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "shared/StandardStreams.h"

namespace cstool {
namespace {

mode_t g_creationMask = 022;

constexpr std::size_t kOutputBufferBytes = std::size_t{256} << 10;

// Temporary files in progress, for the signal thread to remove. The lock is
// held across creating a file and registering it, and across renaming or
// removing it and unregistering it, so no file escapes the signal thread.
struct Registry {
  std::mutex lock;
  std::map<std::uint64_t, std::string> paths;
  std::uint64_t next = 1;
};
Registry& Temporaries() {
  static auto* registry = new Registry;  // never destroyed: the signal thread may use it at exit
  return *registry;
}

// SIGXFSZ and SIGPIPE raised by a write go to the writing thread, where,
// blocked, they turn into EFBIG or EPIPE: that output fails alone.
[[noreturn]] void TakeSignals(sigset_t set) {
  for (;;) {
    int signal = 0;
    if (::sigwait(&set, &signal) != 0) continue;
    if (signal == SIGXFSZ) continue;  // sent by another process: no write of ours is over the limit
    Registry& registry = Temporaries();
    registry.lock.lock();  // never given back: no file is created or renamed from here on
    for (const auto& entry : registry.paths) ::unlink(entry.second.c_str());
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);  // ends the process as the signal would have
    ::_exit(128 + signal);
  }
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the path they finally name, which need not
// exist yet.
bool ResolveLinks(const std::string& path, std::string& resolved, std::string& error) {
  resolved = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status {};
    if (::lstat(resolved.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(resolved.c_str(), target, sizeof target - 1);
    if (length < 0) {
      error = "cannot follow " + path + ": " + std::strerror(errno);
      return false;
    }
    target[length] = '\0';
    resolved = target[0] == '/' ? std::string(target) : DirectoryOf(resolved) + "/" + target;
  }
  error = "cannot follow " + path + ": too many levels of symbolic links";
  return false;
}

// The longest name a file in `directory` may have.
std::size_t LongestName(const std::string& directory) {
  const long longest = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  return longest > 0 ? static_cast<std::size_t>(longest) : 255;
}

// ".NAME.colorspace-XXXXXX" beside the target, NAME cut so that the whole
// fits wherever the target's name fits.
std::string TemporaryPattern(const std::string& target) {
  const std::string directory = DirectoryOf(target);
  std::string name = FileNameOf(target);
  const std::string suffix = ".colorspace-XXXXXX";
  const std::size_t limit = LongestName(directory);
  if (1 + name.size() + suffix.size() > limit) name.resize(limit > suffix.size() + 1 ? limit - suffix.size() - 1 : 0);
  return directory + "/." + name + suffix;
}

}  // namespace

std::string PrepareOutputs() {
  g_creationMask = ::umask(0);
  ::umask(g_creationMask);
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kCleanedUpSignals) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // e.g. under nohup: stay ignored
    sigaddset(&set, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    std::thread(TakeSignals, set).detach();
    return {};
  } catch (const std::system_error& error) {
    // Nothing takes the signals: they act as they would have. A write
    // past the file size limit or to a closed pipe still fails its file
    // alone.
    sigdelset(&set, SIGXFSZ);
    sigdelset(&set, SIGPIPE);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return std::string("cannot start the thread that removes temporary files on a signal (") + error.what() +
           "): an interruption may leave .NAME.colorspace-XXXXXX files beside the outputs";
  }
}

std::string MakeFolder(const std::string& dir) {
  const std::string why = "cannot use " + dir + " as the output folder: ";
  if (::mkdir(dir.c_str(), 0777) == 0) return {};
  const int error = errno;
  struct stat status {};
  if (error == EEXIST && ::stat(dir.c_str(), &status) == 0) {
    return S_ISDIR(status.st_mode) ? std::string() : why + "it is not a folder";
  }
  if (error == ENOENT) return why + "the folder it would go in does not exist (make it first)";
  return why + std::strerror(error);
}

std::string CheckNotATerminal(const std::string& path) {
  const std::optional<int> fd = OutputDescriptor(path);
  bool terminal = fd && ::isatty(*fd) != 0;
  struct stat status {};
  if (!fd && ::stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode)) {
    // A device named by its path (/dev/tty, /dev/pts/N): asked whether it
    // is a terminal, opened without becoming the controlling one.
    const int device = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    terminal = device >= 0 && ::isatty(device) != 0;
    if (device >= 0) ::close(device);
  }
  if (!terminal) return {};
  return (path == "-" ? std::string("standard output") : path) +
         " is a terminal, where a picture would print as noise: redirect it (> out.png, | program) or name an "
         "output file";
}

std::optional<int> DescriptorNamed(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t length = std::strlen(prefix);
    if (path.compare(0, length, prefix) != 0) continue;
    const std::string digits = path.substr(length);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    return std::stoi(digits);
  }
  return std::nullopt;
}

std::optional<int> OutputDescriptor(const std::string& path) {
  return path == "-" ? std::optional<int>(STDOUT_FILENO) : DescriptorNamed(path);
}

std::string CheckDescriptorOutput(const std::string& path) {
  const std::optional<int> fd = DescriptorNamed(path);
  if (!fd || ::fcntl(*fd, F_GETFD) != -1) return {};
  return "cannot write " + path + ": " + std::strerror(errno) + "; nothing written";
}

namespace {

// "-" is `standard`, the descriptor of standard input or output.
std::optional<FileIdentity> IdentityOf(const std::string& path, int standard) {
  struct stat status {};
  if (path == "-" ? ::fstat(standard, &status) != 0 : ::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

}  // namespace

InputFiles InputFiles::Of(const std::vector<std::string>& paths) {
  InputFiles inputs;
  for (const std::string& path : paths) {
    if (const auto identity = IdentityOf(path, STDIN_FILENO)) inputs.files.emplace_back(path, *identity);
  }
  return inputs;
}

std::string InputFiles::Refusal(const std::string& output) const {
  const auto identity = IdentityOf(output, STDOUT_FILENO);
  if (!identity) return {};
  for (const auto& [input, inputIdentity] : files) {
    if (inputIdentity == *identity) {
      return (output == "-" ? std::string("standard output") : output) + " is the same file as the input " + input +
             "; nothing written";
    }
  }
  return {};
}

std::optional<OutputFile> OutputFile::Open(const std::string& path, OutputName name, std::string& error) {
  OutputFile output;
  output.userPath_ = path;
  const std::optional<int> descriptor = OutputDescriptor(path);
  if (descriptor == 1) {
    output.stream_ = stdout;
    output.Buffer();
    output.toStandardOutput_ = true;
    return output;
  }
  if (descriptor) {
    // Whatever it reaches (a pipe, a terminal, a file the shell opened),
    // the descriptor itself is written.
    if (!output.WriteTo(::fcntl(*descriptor, F_DUPFD_CLOEXEC, 3), error)) return std::nullopt;
    return output;
  }
  struct stat status {};
  bool exists = false;
  if (name == OutputName::kMade) {
    output.target_ = path;
    exists = ::lstat(path.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
      error = path + " is already there and is " +
              (S_ISLNK(status.st_mode)   ? "a symbolic link"
               : S_ISDIR(status.st_mode) ? "a directory"
                                         : "not a regular file") +
              "; a name made for an output never replaces one (nothing written)";
      return std::nullopt;
    }
  } else {
    if (!ResolveLinks(path, output.target_, error)) return std::nullopt;
    exists = ::stat(output.target_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
      error = path + " is a directory";
      return std::nullopt;
    }
    if (exists && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode))) {
      if (!output.WriteTo(::open(output.target_.c_str(), O_WRONLY | O_CLOEXEC), error)) return std::nullopt;
      return output;
    }
    if (exists && !S_ISREG(status.st_mode)) {
      error = path + " is neither a regular file, a device nor a FIFO";
      return std::nullopt;
    }
  }
  // What the replacement could not be is refused before it is written.
  if (exists && ::faccessat(AT_FDCWD, output.target_.c_str(), W_OK, AT_EACCESS) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno) + "; nothing written";
    return std::nullopt;
  }
  if (FileNameOf(output.target_).size() > LongestName(DirectoryOf(output.target_))) {
    error = "cannot write " + path + ": " + std::strerror(ENAMETOOLONG) + "; nothing written";
    return std::nullopt;
  }

  std::string pattern = TemporaryPattern(output.target_);
  int fd = -1;
  {
    Registry& registry = Temporaries();
    const std::lock_guard<std::mutex> hold(registry.lock);
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
      output.temporary_ = pattern;
      output.slot_ = registry.next++;
      registry.paths.emplace(output.slot_, pattern);
    }
  }
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  output.replaces_ = exists;
  if (exists) {
    // The replacement keeps the owner and group (which only root may give
    // away), then the permission bits, which a change of owner clears.
    if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
      error = status.st_uid != ::geteuid()
                  ? path + " belongs to another user (uid " + std::to_string(status.st_uid) +
                        "), and replacing it would change its owner; nothing written"
                  : "replacing " + path + " would change its group (gid " + std::to_string(status.st_gid) +
                        "), which you cannot give it; nothing written";
      ::close(fd);
      output.Abandon();
      return std::nullopt;
    }
    ::fchmod(fd, status.st_mode & 07777);
  } else {
    ::fchmod(fd, 0666 & ~g_creationMask);
  }
  output.stream_ = ::fdopen(fd, "wb");
  output.Buffer();
  if (output.stream_ == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::close(fd);
    output.Abandon();
    return std::nullopt;
  }
  return output;
}

void OutputFile::Buffer() {
  // Frames go out a row at a time: a buffer of many rows makes few writes.
  // (Given no buffer of its own, the C library ignores the size.) Standard
  // output outlives this object, so its buffer lives as long as the process.
  if (stream_ == nullptr) return;
  static char standardOutputBuffer[kOutputBufferBytes];
  if (stream_ == stdout) {
    std::setvbuf(stream_, standardOutputBuffer, _IOFBF, kOutputBufferBytes);
    return;
  }
  buffer_ = std::make_unique_for_overwrite<char[]>(kOutputBufferBytes);
  std::setvbuf(stream_, buffer_.get(), _IOFBF, kOutputBufferBytes);
}

bool OutputFile::WriteTo(int fd, std::string& error) {
  stream_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  Buffer();
  if (stream_ != nullptr) return true;
  error = "cannot write " + userPath_ + ": " + std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return false;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : userPath_(std::move(other.userPath_)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      replaces_(other.replaces_),
      slot_(other.slot_),
      stream_(other.stream_),
      buffer_(std::move(other.buffer_)),
      toStandardOutput_(other.toStandardOutput_) {
  other.temporary_.clear();
  other.slot_ = 0;
  other.stream_ = nullptr;
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() {
  // What is still buffered for a stream written directly is dropped, so
  // that no more of an abandoned output goes out.
  if (stream_ != nullptr && temporary_.empty()) ::__fpurge(stream_);
  if (stream_ != nullptr && !toStandardOutput_) std::fclose(stream_);
  stream_ = nullptr;
  if (temporary_.empty()) return;
  Registry& registry = Temporaries();
  const std::lock_guard<std::mutex> hold(registry.lock);
  ::unlink(temporary_.c_str());
  registry.paths.erase(slot_);
  temporary_.clear();
  slot_ = 0;
}

std::string OutputFile::Commit() {
  errno = 0;
  if (toStandardOutput_) {
    const bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    const int savedErrno = errno != 0 ? errno : EIO;
    stream_ = nullptr;
    return ok ? std::string() : StandardOutputError(savedErrno);
  }
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  int savedErrno = errno != 0 ? errno : EIO;
  // A renamed file must hold its data, not only its name, after a crash.
  if (ok && !temporary_.empty() && ::fsync(::fileno(stream_)) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (std::fclose(stream_) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  stream_ = nullptr;
  if (!ok) {
    Abandon();
    return "cannot write " + userPath_ + ": " + std::strerror(savedErrno);
  }
  if (temporary_.empty()) return {};
  {
    Registry& registry = Temporaries();
    const std::lock_guard<std::mutex> hold(registry.lock);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
      savedErrno = errno;
      ::unlink(temporary_.c_str());
      ok = false;
    }
    registry.paths.erase(slot_);
    temporary_.clear();
    slot_ = 0;
  }
  if (!ok) return "cannot replace " + userPath_ + ": " + std::strerror(savedErrno);
  const int directory = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return {};
}

}  // namespace cstool

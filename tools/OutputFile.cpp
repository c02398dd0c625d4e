#include "OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace cstool {
namespace {

mode_t g_creationMask = 022;

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
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGXFSZ};

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

std::string NameOf(const std::string& path) {
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

// ".NAME.colorspace-XXXXXX" beside the target, NAME cut so that the whole
// fits wherever the target's name fits.
std::string TemporaryPattern(const std::string& target) {
  const std::string directory = DirectoryOf(target);
  std::string name = NameOf(target);
  const std::string suffix = ".colorspace-XXXXXX";
  const long longest = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  const std::size_t limit = longest > 0 ? static_cast<std::size_t>(longest) : 255;
  if (1 + name.size() + suffix.size() > limit) name.resize(limit > suffix.size() + 1 ? limit - suffix.size() - 1 : 0);
  return directory + "/." + name + suffix;
}

}  // namespace

void PrepareOutputs() {
  g_creationMask = ::umask(0);
  ::umask(g_creationMask);
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kHandledSignals) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // e.g. under nohup: stay ignored
    sigaddset(&set, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(TakeSignals, set).detach();
}

std::optional<FileIdentity> InputIdentity(const std::string& path) {
  struct stat status {};
  if (path == "-" ? ::fstat(STDIN_FILENO, &status) != 0 : ::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

std::optional<FileIdentity> OutputIdentity(const std::string& path) {
  struct stat status {};
  if (path == "-" ? ::fstat(STDOUT_FILENO, &status) != 0 : ::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

std::optional<OutputFile> OutputFile::Open(const std::string& path, OutputName name, std::string& error) {
  OutputFile output;
  output.userPath_ = path;
  if (path == "-") {
    output.stream_ = stdout;
    output.toStandardOutput_ = true;
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
      const int fd = ::open(output.target_.c_str(), O_WRONLY | O_CLOEXEC);
      output.stream_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
      if (output.stream_ == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return std::nullopt;
      }
      return output;
    }
    if (exists && !S_ISREG(status.st_mode)) {
      error = path + " is neither a regular file, a device nor a FIFO";
      return std::nullopt;
    }
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
  if (exists) {
    // The replacement keeps the permission bits, and the owner where the
    // process may set it.
    ::fchmod(fd, status.st_mode & 07777);
    if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
      // Only the owner may be unchangeable; the file is still complete.
    }
  } else {
    ::fchmod(fd, 0666 & ~g_creationMask);
  }
  output.stream_ = ::fdopen(fd, "wb");
  if (output.stream_ == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::close(fd);
    output.Abandon();
    return std::nullopt;
  }
  return output;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : userPath_(std::move(other.userPath_)),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      slot_(other.slot_),
      stream_(other.stream_),
      toStandardOutput_(other.toStandardOutput_) {
  other.temporary_.clear();
  other.slot_ = 0;
  other.stream_ = nullptr;
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() {
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
  if (toStandardOutput_) {
    const bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    stream_ = nullptr;
    return ok ? std::string() : "cannot write to standard output: " + std::string(std::strerror(errno));
  }
  bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  int savedErrno = errno;
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

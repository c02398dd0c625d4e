#include "OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace cstool {
namespace {

mode_t g_creationMask = 022;

// Temporary files in progress, for the signal handler to remove. A slot's
// path is written while the slot is claimed (2) and read only once it is
// published (1); std::atomic<int> is lock-free, so the handler may read it.
constexpr int kSlots = 256;
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporariesAndDie(int signal) {
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) == 1) ::unlink(slot.path);
  }
  // The handler was installed with SA_RESETHAND, so this ends the process
  // the way the signal would have, once the handler returns.
  ::raise(signal);
}

int Register(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 2, std::memory_order_acquire)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(1, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void Unregister(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0, std::memory_order_release);
}

// Blocks the handled signals on this thread for its lifetime, so that a file
// is never created without being registered.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kHandledSignals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

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

}  // namespace

void PrepareOutputs() {
  g_creationMask = ::umask(0);
  ::umask(g_creationMask);
  for (const int signal : kHandledSignals) {
    struct sigaction previous {};
    ::sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // e.g. under nohup: stay ignored
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &action, nullptr);
  }
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (path == "-" || ::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

std::optional<OutputFile> OutputFile::Open(const std::string& path, std::string& error) {
  OutputFile output;
  output.userPath_ = path;
  if (path == "-") {
    output.stream_ = stdout;
    output.toStandardOutput_ = true;
    return output;
  }
  if (!ResolveLinks(path, output.target_, error)) return std::nullopt;

  struct stat status {};
  const bool exists = ::stat(output.target_.c_str(), &status) == 0;
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

  std::string pattern = DirectoryOf(output.target_) + "/." + NameOf(output.target_) + ".colorspace-XXXXXX";
  int fd = -1;
  {
    const SignalsHeld held;
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
      output.temporary_ = pattern;
      output.slot_ = Register(pattern);
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
  other.slot_ = -1;
  other.stream_ = nullptr;
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() {
  if (stream_ != nullptr && !toStandardOutput_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  Unregister(slot_);
  slot_ = -1;
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
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    savedErrno = errno;
    Abandon();
    return "cannot replace " + userPath_ + ": " + std::strerror(savedErrno);
  }
  temporary_.clear();
  Unregister(slot_);
  slot_ = -1;
  const int directory = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return {};
}

}  // namespace cstool

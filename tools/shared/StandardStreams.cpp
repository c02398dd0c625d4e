#include "shared/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cstool {
namespace {

std::atomic<bool> g_outputFailureTold{false};

}  // namespace

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: the descriptor is taken again.
    const int reserved = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (reserved != fd && reserved >= 0) ::close(reserved);
  }
}

std::string StandardOutputError(int error) {
  g_outputFailureTold = true;
  return std::string("cannot write to standard output: ") + std::strerror(error);
}

int FinishStandardStreams(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const int error = errno != 0 ? errno : EIO;
    if (!g_outputFailureTold) std::fprintf(stderr, "colorspace: %s\n", StandardOutputError(error).c_str());
    status = 1;
  }
  if (std::fflush(stderr) != 0 || std::ferror(stderr) != 0) status = 1;
  return status;
}

}  // namespace cstool

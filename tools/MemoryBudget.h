// One memory budget shared by every job of a run: a job takes its share
// before it allocates its picture, waits while the others hold too much,
// and is refused when it could never fit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace cstool {

// What a job needs for each pixel of its picture besides the decoder's own
// memory: the picture (4 bytes), a selection and its complement, and the
// planes or the exact path's selection of every pixel.
inline constexpr std::uint64_t kJobBytesPerPixel = 8;

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t bytes) : capacity_(bytes) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Half of the machine's physical memory.
  static std::uint64_t DefaultBytes();

  // A share taken from the budget, given back when destroyed or replaced.
  class Share {
   public:
    Share() = default;
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    ~Share() { Release(); }
    void Release();

   private:
    friend class MemoryBudget;
    MemoryBudget* budget_ = nullptr;
    std::uint64_t bytes_ = 0;
    bool lasting_ = false;
  };

  // Takes `bytes` into `share`, waiting while other jobs hold what is
  // missing. A lasting share (the mask, held for the whole run) is never
  // waited for. Returns an error line when the bytes can never fit.
  std::string Take(std::uint64_t bytes, Share& share, bool lasting = false);

  std::uint64_t Capacity() const { return capacity_; }

 private:
  void Give(const Share& share);

  const std::uint64_t capacity_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::uint64_t used_ = 0;
  int passingShares_ = 0;  // shares that will be given back during the run
};

// "N MiB", rounded up.
std::string Mebibytes(std::uint64_t bytes);

}  // namespace cstool

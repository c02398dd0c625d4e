// One memory budget shared by every job of a run. Each job holds an account
// that grows as the job allocates (the decoder's memory, the metadata as it
// is read and inflated, the picture, the compressed output) and shrinks as
// it frees; a job that needs more than is left waits while other jobs that
// are working hold it, and is refused when it could never fit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace cstool {

// What a job needs for each pixel of its picture besides the decoder's own
// memory: the picture (4 bytes), a selection and its complement, and the
// planes or the exact path's selection of every pixel.
inline constexpr std::uint64_t kJobBytesPerPixel = 8;

// a * b and a + b, or nothing when the result does not fit in 64 bits.
std::optional<std::uint64_t> CheckedProduct(std::uint64_t a, std::uint64_t b);
std::optional<std::uint64_t> CheckedSum(std::uint64_t a, std::uint64_t b);

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t bytes) : capacity_(bytes) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Half of the machine's physical memory.
  static std::uint64_t DefaultBytes();

  // What one job holds, given back when the account is destroyed. Without
  // a budget, an account grants everything (for callers with no limit).
  // Safe to use from several threads.
  class Account {
   public:
    // A lasting account (the mask's, held for the whole run) is never
    // waited for.
    explicit Account(MemoryBudget* budget, bool lasting = false) : budget_(budget), lasting_(lasting) {}
    Account(const Account&) = delete;
    Account& operator=(const Account&) = delete;
    ~Account() { Shrink(held_); }

    // Takes `bytes` more, waiting while other jobs that are not waiting
    // themselves hold what is missing. False when they can never fit, or
    // when every job that holds memory is waiting.
    bool Grow(std::uint64_t bytes);
    // The same without waiting: false when the bytes are not free now.
    bool TryGrow(std::uint64_t bytes);
    void Shrink(std::uint64_t bytes);
    std::uint64_t Held() const;
    // "needs at least N MiB, more than the memory budget of M
    // (--max-memory)", after a Grow of `bytes` failed.
    std::string Refusal(std::uint64_t bytes) const;

   private:
    friend class MemoryBudget;
    MemoryBudget* budget_;
    bool lasting_;
    std::uint64_t held_ = 0;  // guarded by the budget's mutex
  };

  std::uint64_t Capacity() const { return capacity_; }

 private:
  bool Take(Account& account, std::uint64_t bytes, bool wait);
  void Give(Account& account, std::uint64_t bytes);

  const std::uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t used_ = 0;
  std::uint64_t lastingUsed_ = 0;
  int holders_ = 0;         // accounts that are not lasting and hold memory
  int waitingHolders_ = 0;  // of those, the ones waiting for more
};

// An amount of memory as a person reads it: "1 byte", "300 bytes",
// "64 KiB", "1.5 MiB" (rounded up), "16 GiB".
std::string ByteAmount(std::uint64_t bytes);

}  // namespace cstool

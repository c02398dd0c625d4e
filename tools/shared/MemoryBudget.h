// One memory budget shared by every job of a run. Each job holds an account
// that grows as the job allocates (the decoder's memory, the metadata as it
// is read and inflated, the picture, the compressed output) and shrinks as
// it frees; a job that needs more than is left waits while other jobs hold
// it, and is refused when it could never fit. Where every job that holds
// memory is waiting for more, the one that began holding last gives way,
// so that the jobs furthest along finish.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
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

    // Takes `bytes` more, waiting while other jobs hold what is missing.
    // False when they can never fit, or when this job gives way (see
    // above).
    bool Grow(std::uint64_t bytes);
    // The same without waiting: false when the bytes are not free now.
    bool TryGrow(std::uint64_t bytes);
    void Shrink(std::uint64_t bytes);
    std::uint64_t Held() const;
    // Why the last Grow or TryGrow failed, as it stood then: "needs at
    // least N MiB, more than the memory budget of M (--max-memory)".
    std::string Refusal() const;

    class Reservation;

   private:
    friend class MemoryBudget;
    MemoryBudget* budget_;
    bool lasting_;
    // Guarded by the budget's mutex.
    std::uint64_t held_ = 0;
    std::uint64_t since_ = 0;           // when it began holding: its place among the holders
    std::uint64_t refusedNeed_ = 0;     // what it needed when refused last
    bool refusedBeside_ = false;        // other jobs held the rest then
    std::uint64_t refusedLasting_ = 0;  // what was held for the whole run then
  };

 private:
  bool Take(Account& account, std::uint64_t bytes, bool wait);
  void Give(Account& account, std::uint64_t bytes);

  void Refuse(Account& account, std::uint64_t need, bool beside);

  const std::uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t used_ = 0;
  std::uint64_t lastingUsed_ = 0;
  std::size_t holders_ = 0;                 // accounts that are not lasting and hold memory
  std::set<std::uint64_t> waitingHolders_;  // of those, the ones waiting for more, by `since_`
  std::uint64_t nextSince_ = 1;
};

// Bytes taken from an account (none: no limit) for a while, as a writer
// holds them while it writes: given back when the reservation ends, unless
// kept.
class MemoryBudget::Account::Reservation {
 public:
  explicit Reservation(Account* account) : account_(account) {}
  Reservation(const Reservation&) = delete;
  Reservation& operator=(const Reservation&) = delete;
  ~Reservation() { Shrink(bytes_); }

  // As the account's Grow, or without `wait` its TryGrow; true without an
  // account.
  bool Grow(std::uint64_t bytes, bool wait = true) {
    if (account_ != nullptr && !(wait ? account_->Grow(bytes) : account_->TryGrow(bytes))) return false;
    bytes_ += bytes;
    return true;
  }
  // Gives `bytes` back now.
  void Shrink(std::uint64_t bytes) {
    bytes = bytes < bytes_ ? bytes : bytes_;
    if (account_ != nullptr) account_->Shrink(bytes);
    bytes_ -= bytes;
  }
  std::uint64_t Bytes() const { return bytes_; }
  // The bytes stay with the account, held with what they paid for.
  void Keep() { bytes_ = 0; }

 private:
  Account* account_;
  std::uint64_t bytes_ = 0;
};

// An amount of memory as a person reads it: "1 byte", "300 bytes",
// "64 KiB", "1.5 MiB" (rounded up), "16 GiB".
std::string ByteAmount(std::uint64_t bytes);

}  // namespace cstool

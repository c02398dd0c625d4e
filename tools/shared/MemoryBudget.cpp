#include "shared/MemoryBudget.h"

#include <unistd.h>

#include <cstdio>

namespace cstool {

std::optional<std::uint64_t> CheckedProduct(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::optional<std::uint64_t> CheckedSum(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

std::uint64_t MemoryBudget::DefaultBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 31;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

void MemoryBudget::Refuse(Account& account, std::uint64_t need, bool beside) {
  account.refusedNeed_ = need;
  account.refusedBeside_ = beside;
  account.refusedLasting_ = lastingUsed_ - (account.lasting_ ? account.held_ : 0);
}

bool MemoryBudget::Take(Account& account, std::uint64_t bytes, bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  // What the others hold for the whole run is never given back.
  const std::uint64_t othersLasting = lastingUsed_ - (account.lasting_ ? account.held_ : 0);
  const auto total = CheckedSum(account.held_, bytes);
  if (!total || *total > capacity_ - othersLasting) {
    Refuse(account, total.value_or(UINT64_MAX), false);
    return false;
  }
  auto fits = [&] { return bytes <= capacity_ - used_; };  // used_ never passes capacity_
  if (!fits()) {
    if (!wait) {
      Refuse(account, *total, true);
      return false;
    }
    // A holder waits until the bytes fit, or until every holder waits and
    // it is the one that began holding last: it then gives way. One that
    // holds nothing waits until they fit (a holder giving way frees them).
    const bool holding = !account.lasting_ && account.held_ > 0;
    if (holding) waitingHolders_.insert(account.since_);
    changed_.notify_all();  // who is waiting has changed
    changed_.wait(lock, [&] {
      return fits() || (holding && holders_ == waitingHolders_.size() && *waitingHolders_.rbegin() == account.since_);
    });
    if (holding) waitingHolders_.erase(account.since_);
    if (!fits()) {
      Refuse(account, *total, true);
      changed_.notify_all();
      return false;
    }
  }
  if (!account.lasting_ && account.held_ == 0 && bytes > 0) {
    ++holders_;
    account.since_ = nextSince_++;
  }
  account.held_ += bytes;
  used_ += bytes;
  if (account.lasting_) lastingUsed_ += bytes;
  return true;
}

void MemoryBudget::Give(Account& account, std::uint64_t bytes) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > account.held_) bytes = account.held_;
    if (bytes == 0) return;
    account.held_ -= bytes;
    used_ -= bytes;
    if (account.lasting_) lastingUsed_ -= bytes;
    if (!account.lasting_ && account.held_ == 0) {
      --holders_;
      account.since_ = 0;
    }
  }
  changed_.notify_all();
}

bool MemoryBudget::Account::Grow(std::uint64_t bytes) {
  if (budget_ == nullptr) return true;
  return budget_->Take(*this, bytes, true);
}

bool MemoryBudget::Account::TryGrow(std::uint64_t bytes) {
  if (budget_ == nullptr) return true;
  return budget_->Take(*this, bytes, false);
}

void MemoryBudget::Account::Shrink(std::uint64_t bytes) {
  if (budget_ != nullptr) budget_->Give(*this, bytes);
}

std::uint64_t MemoryBudget::Account::Held() const {
  if (budget_ == nullptr) return 0;
  const std::lock_guard<std::mutex> lock(budget_->mutex_);
  return held_;
}

std::string MemoryBudget::Account::Refusal() const {
  std::uint64_t need = 0;
  bool beside = false;
  std::uint64_t lasting = 0;
  {
    const std::lock_guard<std::mutex> lock(budget_->mutex_);
    need = refusedNeed_;
    beside = refusedBeside_;
    lasting = refusedLasting_;
  }
  const std::string amount = need == UINT64_MAX ? std::string("more than 16 EiB") : "at least " + ByteAmount(need);
  const std::string kept = lasting > 0 ? " (" + ByteAmount(lasting) + " held for the whole run)" : std::string();
  if (beside) {
    // It would fit alone: the files converted beside it held the rest.
    return "needs " + amount + " while the files converted beside it hold the rest of the memory budget of " +
           ByteAmount(budget_->capacity_) + kept + " (--max-memory; --jobs 1 converts one file at a time)";
  }
  return "needs " + amount + ", more than the memory budget of " + ByteAmount(budget_->capacity_) + kept +
         " (--max-memory)";
}

std::string ByteAmount(std::uint64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  int unit = 0;
  std::uint64_t scale = 1024;
  while (unit < 5 && bytes / scale >= 1024) {
    scale *= 1024;
    ++unit;
  }
  if (bytes % scale == 0) return std::to_string(bytes / scale) + " " + kUnits[unit];
  // A whole number of a smaller unit is shown as it is (a budget given as
  // 8000K); other amounts with one decimal, rounded up, so that a need is
  // never understated.
  for (int smaller = unit - 1; smaller >= 0; --smaller) {
    const std::uint64_t part = std::uint64_t{1} << (10 * (smaller + 1));
    if (bytes % part == 0) return std::to_string(bytes / part) + " " + kUnits[smaller];
  }
  const std::uint64_t tenths = bytes / scale * 10 + (bytes % scale * 10 + scale - 1) / scale;
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                static_cast<unsigned long long>(tenths % 10), kUnits[unit]);
  return text;
}

}  // namespace cstool

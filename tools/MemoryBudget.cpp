#include "MemoryBudget.h"

#include <unistd.h>

namespace cstool {

std::uint64_t MemoryBudget::DefaultBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 31;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

std::string MemoryBudget::Take(std::uint64_t bytes, Share& share, bool lasting) {
  share.Release();
  std::unique_lock<std::mutex> lock(mutex_);
  // Waiting helps only while some job will give its share back.
  returned_.wait(lock, [&] { return used_ + bytes <= capacity_ || passingShares_ == 0; });
  if (used_ + bytes > capacity_) {
    const std::string held = used_ > 0 ? " (" + Mebibytes(used_) + " held for the whole run)" : std::string();
    return "needs about " + Mebibytes(bytes) + ", more than the memory budget of " + Mebibytes(capacity_) + held +
           " (--max-memory)";
  }
  used_ += bytes;
  if (!lasting) ++passingShares_;
  share.budget_ = this;
  share.bytes_ = bytes;
  share.lasting_ = lasting;
  return {};
}

void MemoryBudget::Give(const Share& share) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    used_ -= share.bytes_;
    if (!share.lasting_) --passingShares_;
  }
  returned_.notify_all();
}

void MemoryBudget::Share::Release() {
  if (budget_ != nullptr) budget_->Give(*this);
  budget_ = nullptr;
  bytes_ = 0;
}

std::string Mebibytes(std::uint64_t bytes) {
  const std::uint64_t mebibyte = std::uint64_t{1} << 20;
  return std::to_string(bytes / mebibyte + (bytes % mebibyte != 0 ? 1 : 0)) + " MiB";
}

}  // namespace cstool

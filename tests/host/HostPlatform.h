// The little a test host needs from its platform, for programs that must
// also build where there is no C or C++ runtime (the platform-ABI Windows
// target): text output, memory, and an entry point that calls HostMain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

// The program's body; its result is the exit status.
int HostMain();

void Write(const char* text);
void WriteHex(std::uint64_t value, int digits);
void WriteDecimal(std::uint32_t value);

// Zero-filled memory, or null.
void* Allocate(std::size_t bytes);
void Release(void* memory);

template <typename T>
T* AllocateArray(std::size_t count) {
  return static_cast<T*>(Allocate(count * sizeof(T)));
}

}  // namespace host

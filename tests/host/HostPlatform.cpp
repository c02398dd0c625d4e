#include "HostPlatform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <cstdlib>
#endif

namespace host {

void Write(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
#if defined(_WIN32)
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
#else
  while (length > 0) {
    const ssize_t written = ::write(1, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
#endif
}

void WriteHex(std::uint64_t value, int digits) {
  char text[17] = {};
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
  Write(text);
}

// 32-bit only: a 64-bit division would need a runtime helper on 32-bit x86.
void WriteDecimal(std::uint32_t value) {
  char text[11] = {};
  int start = 10;
  do {
    const std::uint32_t rest = value / 10;
    text[--start] = static_cast<char>('0' + (value - rest * 10));
    value = rest;
  } while (value != 0);
  Write(text + start);
}

void* Allocate(std::size_t bytes) {
#if defined(_WIN32)
  return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
#else
  return std::calloc(bytes, 1);
#endif
}

void Release(void* memory) {
  if (memory == nullptr) return;
#if defined(_WIN32)
  VirtualFree(memory, 0, MEM_RELEASE);
#else
  std::free(memory);
#endif
}

}  // namespace host

#if defined(_MSC_VER)
// No C runtime on this target: the process starts here, and the symbol the
// compiler's floating-point code refers to is defined here.
extern "C" {
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name is fixed by the platform.
int _fltused = 0;
void HostStartup() { ExitProcess(static_cast<UINT>(host::HostMain())); }
}
#else
int main() { return host::HostMain(); }
#endif

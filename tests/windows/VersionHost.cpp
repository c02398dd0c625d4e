// Reads the DLL's version block back through the Windows version API and
// checks the build strings against what the build put there.
#include <windows.h>

#include "HostPlatform.h"

namespace {

bool Equal(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

int g_failures = 0;

void ExpectString(const void* block, const char* name, const char* expected) {
  char path[64] = "\\StringFileInfo\\040904B0\\";
  int end = 0;
  while (path[end] != '\0') ++end;
  for (int i = 0; name[i] != '\0' && end < 63; ++i) path[end++] = name[i];
  path[end] = '\0';
  char* value = nullptr;
  UINT length = 0;
  const bool found = VerQueryValueA(block, path, reinterpret_cast<void**>(&value), &length) != 0 && length > 0;
  host::Write(name);
  host::Write(": ");
  host::Write(found ? value : "<missing>");
  if (!found || !Equal(value, expected)) {
    host::Write("  FAILED, expected ");
    host::Write(expected);
    ++g_failures;
  }
  host::Write("\n");
}

}  // namespace

int host::HostMain() {
  const char* const dll = "ColorSpace.dll";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(dll, &ignored);
  void* block = size == 0 ? nullptr : host::Allocate(size);
  if (block == nullptr || GetFileVersionInfoA(dll, 0, size, block) == 0) {
    host::Write("FAILED: no version block in ColorSpace.dll\n");
    return 1;
  }
  ExpectString(block, "Build", COLORSPACE_EXPECTED_BUILD);
  ExpectString(block, "BuildDate", COLORSPACE_EXPECTED_BUILD_DATE);
  ExpectString(block, "BuildTime", COLORSPACE_EXPECTED_BUILD_TIME);
  ExpectString(block, "ProductName", "ColorSpace");
  ExpectString(block, "OriginalFilename", "ColorSpace.dll");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  const bool hasFixed = VerQueryValueA(block, "\\", reinterpret_cast<void**>(&fixed), &length) != 0 &&
                        fixed->dwSignature == 0xFEEF04BDU &&
                        HIWORD(fixed->dwFileVersionMS) == COLORSPACE_EXPECTED_MAJOR;
  if (!hasFixed) {
    host::Write("FAILED: fixed version information\n");
    ++g_failures;
  }
  host::Release(block);
  return g_failures == 0 ? 0 : 1;
}

// memcpy and memset for the platform-ABI Windows DLL, which links no C
// runtime: the compiler calls them for copies and clears that it does not
// expand inline (unoptimised builds do so often). Built with -fno-builtin,
// so that these loops are not turned back into calls to themselves.
#include <cstddef>

extern "C" {

void* memcpy(void* destination, const void* source, std::size_t count) {
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source);
  for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
  return destination;
}

void* memset(void* destination, int value, std::size_t count) {
  auto* to = static_cast<unsigned char*>(destination);
  for (std::size_t i = 0; i < count; ++i) to[i] = static_cast<unsigned char>(value);
  return destination;
}
}

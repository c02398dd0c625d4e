# 32-bit Windows DLL for the platform compiler's ABI, built with clang and
# lld-link (Debian clang, lld, llvm, mingw-w64-i686-dev for headers).
set(COLORSPACE_WINDOWS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/windows-msvc-abi.cmake)

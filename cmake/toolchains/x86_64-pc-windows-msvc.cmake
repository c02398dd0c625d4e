# 64-bit Windows DLL for the platform compiler's ABI, built with clang and
# lld-link (Debian clang, lld, llvm, mingw-w64-x86-64-dev for headers).
set(COLORSPACE_WINDOWS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-msvc-abi.cmake)

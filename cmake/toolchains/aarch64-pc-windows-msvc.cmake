# 64-bit ARM Windows DLL for the platform compiler's ABI, built with clang and
# lld-link (Debian clang, lld, llvm, mingw-w64-x86-64-dev for headers).
# Nothing on an x86 Linux host runs ARM64 Windows programs (Wine runs x86
# only, qemu-user Linux programs only): the DLL is built and its tables read,
# never run.
set(COLORSPACE_WINDOWS_ARCH aarch64)
set(COLORSPACE_STATIC_CHECKS_ONLY ON)
include(${CMAKE_CURRENT_LIST_DIR}/windows-msvc-abi.cmake)

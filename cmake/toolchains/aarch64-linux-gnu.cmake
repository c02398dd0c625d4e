# 64-bit ARM Linux, cross-built with Debian's g++-aarch64-linux-gnu; test
# programs run under qemu-aarch64 (qemu-user), which takes the CPU model to
# emulate from QEMU_CPU (for example neoverse-n1, or max for SVE).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The target's C and C++ libraries, from Debian's cross packages.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu runs tests only: without it everything builds, and the tests that
# would run an ARM program report themselves skipped.
find_program(QEMU_AARCH64_PROGRAM NAMES qemu-aarch64 qemu-aarch64-static)
if(QEMU_AARCH64_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64_PROGRAM} -L /usr/aarch64-linux-gnu)
  unset(COLORSPACE_TARGET_PROGRAMS_SKIPPED)
else()
  set(COLORSPACE_TARGET_PROGRAMS_SKIPPED "no qemu-aarch64 (Debian package qemu-user) to run 64-bit ARM programs")
endif()

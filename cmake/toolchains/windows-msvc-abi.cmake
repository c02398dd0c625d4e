# Shared part of the Windows toolchains for the platform compiler's ABI
# (decoration, __thiscall on 32-bit x86, import library): clang and lld-link
# from Debian, no platform SDK. The including file sets
# COLORSPACE_WINDOWS_ARCH to i686, x86_64 or aarch64 first.
#
# There is no C or C++ runtime for this target: the DLL and the test hosts
# link nothing by default and import only from KERNEL32 (the hosts also from
# VERSION). The C++ headers are the header-only parts of MinGW-w64's
# libstdc++, the C headers MinGW-w64's.
set(CMAKE_SYSTEM_NAME Windows)

if(COLORSPACE_WINDOWS_ARCH STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(arch_define _X86_=1)
  set(machine x86)
elseif(COLORSPACE_WINDOWS_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(arch_define _AMD64_=1)
  set(machine x64)
elseif(COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR ARM64)
  set(arch_define _ARM64_=1)
  set(machine arm64)
else()
  message(FATAL_ERROR "COLORSPACE_WINDOWS_ARCH must be i686, x86_64 or aarch64")
endif()
set(triple ${COLORSPACE_WINDOWS_ARCH}-pc-windows-msvc)
if(COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  # Debian has no aarch64 MinGW-w64; the x86_64 headers have ARM64 branches,
  # and libstdc++'s configuration for x86_64 holds for ARM64's LLP64 model.
  set(mingw x86_64-w64-mingw32)
else()
  set(mingw ${COLORSPACE_WINDOWS_ARCH}-w64-mingw32)
endif()
set(COLORSPACE_MSVC_ABI ON)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_RC_COMPILER llvm-rc)
set(CMAKE_AR llvm-ar)
set(CMAKE_LINKER lld-link)
set(CMAKE_MT "")
# Nothing can run during configuration checks: there is no runtime to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Headers: libstdc++ (headers only) for C++, MinGW-w64's C headers after
# clang's own. gnuc-version makes libstdc++ see the compiler it expects;
# clang does not define __STRICT_ANSI__ for this target even in standard
# mode, and libstdc++ then expects GCC's 128-bit integer macros.
# Doubles are computed in SSE2 registers, never on the x87 stack, so that
# double arithmetic rounds as on every other target.
set(libstdcxx /usr/lib/gcc/${mingw}/12-posix/include/c++)
set(common_flags "-Wno-unused-command-line-argument -fno-exceptions -fno-rtti -fgnuc-version=4.2.1 -D${arch_define}")
if(NOT COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  string(APPEND common_flags " -msse2 -mfpmath=sse")
endif()
string(APPEND common_flags " -D__CRT__NO_INLINE")
set(CMAKE_C_FLAGS_INIT "${common_flags} -idirafter /usr/${mingw}/include")
set(CMAKE_CXX_FLAGS_INIT
    "${common_flags} -D__STRICT_ANSI__ -nostdinc++ -isystem ${libstdcxx} -isystem ${libstdcxx}/${mingw} -isystem ${libstdcxx}/backward -idirafter /usr/${mingw}/include"
)
set(CMAKE_RC_FLAGS_INIT "-I /usr/${mingw}/include")
if(COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  # MinGW-w64's vadefs.h knows no _M_ARM64 unless it takes the GNU branch.
  string(APPEND CMAKE_RC_FLAGS_INIT " -D__GNUC__=4")
endif()

# No runtime library is named in objects or on link lines.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(link_flags "-fuse-ld=lld -nostdlib -Wl,/nodefaultlib -Wl,/machine:${machine}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")

# Import libraries for the test hosts: MinGW-w64's, which lld-link reads.
# There are none for ARM64, where the hosts are not built.
if(NOT COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  set(COLORSPACE_KERNEL32_LIBRARY /usr/${mingw}/lib/libkernel32.a)
  set(COLORSPACE_VERSION_LIBRARY /usr/${mingw}/lib/libversion.a)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs x86 programs only: nothing here runs ARM64 Windows programs.
if(NOT COLORSPACE_WINDOWS_ARCH STREQUAL "aarch64")
  include(${CMAKE_CURRENT_LIST_DIR}/windows-wine.cmake)
endif()

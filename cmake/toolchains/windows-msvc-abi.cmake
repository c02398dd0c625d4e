# Shared part of the two Windows toolchains for the platform compiler's ABI
# (decoration, __thiscall, import library): clang and lld-link from Debian,
# no platform SDK. The including file sets COLORSPACE_WINDOWS_ARCH to i686 or
# x86_64 first.
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
else()
  message(FATAL_ERROR "COLORSPACE_WINDOWS_ARCH must be i686 or x86_64")
endif()
set(triple ${COLORSPACE_WINDOWS_ARCH}-pc-windows-msvc)
set(mingw ${COLORSPACE_WINDOWS_ARCH}-w64-mingw32)
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
set(common_flags "-Wno-unused-command-line-argument -msse2 -mfpmath=sse -fno-exceptions -fno-rtti -fgnuc-version=4.2.1 -D${arch_define}")
string(APPEND common_flags " -D__CRT__NO_INLINE")
set(CMAKE_C_FLAGS_INIT "${common_flags} -idirafter /usr/${mingw}/include")
set(CMAKE_CXX_FLAGS_INIT
    "${common_flags} -D__STRICT_ANSI__ -nostdinc++ -isystem ${libstdcxx} -isystem ${libstdcxx}/${mingw} -isystem ${libstdcxx}/backward -idirafter /usr/${mingw}/include"
)
set(CMAKE_RC_FLAGS_INIT "-I /usr/${mingw}/include")

# No runtime library is named in objects or on link lines.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(link_flags "-fuse-ld=lld -nostdlib -Wl,/nodefaultlib -Wl,/machine:${machine}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")

# Import libraries for the test hosts: MinGW-w64's, which lld-link reads.
set(COLORSPACE_KERNEL32_LIBRARY /usr/${mingw}/lib/libkernel32.a)
set(COLORSPACE_VERSION_LIBRARY /usr/${mingw}/lib/libversion.a)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/windows-wine.cmake)

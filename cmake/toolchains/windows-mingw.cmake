# Shared part of the two MinGW-w64 toolchains (Debian g++-mingw-w64-i686,
# g++-mingw-w64-x86-64). The including file sets COLORSPACE_WINDOWS_ARCH to
# i686 or x86_64 first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${COLORSPACE_WINDOWS_ARCH})

set(MINGW_PREFIX ${COLORSPACE_WINDOWS_ARCH}-w64-mingw32)
# The posix threading variant: it has std::thread, which the tests use.
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles in SSE2 registers, not the x87 stack, so that double arithmetic
# rounds exactly as on every other target (x86_64 does this anyway).
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
# No flag for 32-byte stack alignment is needed: GCC realigns the stack of
# the AVX2 kernel functions itself, and the suite passes under Wine from both
# optimised and unoptimised builds.
# The runtime goes inside each binary, so the DLL needs nothing beside it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

include(${CMAKE_CURRENT_LIST_DIR}/windows-wine.cmake)

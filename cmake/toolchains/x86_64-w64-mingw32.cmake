# 64-bit Windows with MinGW-w64 (Debian g++-mingw-w64-x86-64); tests run
# under 64-bit Wine (Debian wine64).
set(COLORSPACE_WINDOWS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)

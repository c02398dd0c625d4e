# 32-bit Windows with MinGW-w64 (Debian g++-mingw-w64-i686); tests run under
# Wine (Debian wine, wine32:i386).
set(COLORSPACE_WINDOWS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)

# Wine runs the Windows test programs: the 32-bit loader for i686, the
# 64-bit one for x86_64. They are called directly rather than through the
# wine wrapper script, which prefers the 32-bit loader even on hosts that
# cannot execute 32-bit programs.
if(COLORSPACE_WINDOWS_ARCH STREQUAL "i686")
  find_program(WINE_PROGRAM NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
else()
  find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})

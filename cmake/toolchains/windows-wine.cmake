# Wine runs the Windows test programs: the 32-bit loader for i686, the
# 64-bit one for x86_64. They are called directly rather than through the
# wine wrapper script, which prefers the 32-bit loader even on hosts that
# cannot execute 32-bit programs.
#
# Wine is needed for running tests only. Without it everything still builds,
# and the tests that would run a Windows program are registered as skipped,
# naming COLORSPACE_TARGET_PROGRAMS_SKIPPED as the reason.
# COLORSPACE_WINE_DIR says where to look (a folder without Wine in it hides
# an installed one).
set(COLORSPACE_WINE_DIR /usr/lib/wine CACHE PATH "Folder holding the Wine loaders that run the tests")
if(COLORSPACE_WINDOWS_ARCH STREQUAL "i686")
  set(wine_loader wine)
  set(wine_package "wine32:i386")
else()
  set(wine_loader wine64)
  set(wine_package "wine64")
endif()
find_program(WINE_PROGRAM NAMES ${wine_loader} PATHS ${COLORSPACE_WINE_DIR} NO_DEFAULT_PATH)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
  unset(COLORSPACE_TARGET_PROGRAMS_SKIPPED)
else()
  set(COLORSPACE_TARGET_PROGRAMS_SKIPPED
      "no Wine loader ${COLORSPACE_WINE_DIR}/${wine_loader} (Debian package ${wine_package}) to run Windows programs")
endif()

# Reads the ARM64 DLL without running it (nothing on an x86 host runs ARM64
# Windows programs): the machine is ARM64, a version resource carries the
# Build, BuildDate and BuildTime strings, and the NEON kernels are in.
#   cmake -DREADOBJ=llvm-readobj -DOBJDUMP=llvm-objdump -DLIBRARY=ColorSpace.dll -P CheckArm64Dll.cmake
execute_process(COMMAND ${READOBJ} --file-headers --coff-resources ${LIBRARY} OUTPUT_VARIABLE headers
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot read the headers of ${LIBRARY}")
endif()
if(NOT headers MATCHES "Machine: IMAGE_FILE_MACHINE_ARM64")
  message(FATAL_ERROR "${LIBRARY} is not an ARM64 image")
endif()
if(NOT headers MATCHES "Type: VERSIONINFO \\(ID 16\\)")
  message(FATAL_ERROR "${LIBRARY} has no version resource")
endif()

# The string table's keys are UTF-16LE, each followed by its terminator.
file(READ ${LIBRARY} image HEX)
foreach(key IN ITEMS Build BuildDate BuildTime)
  string(HEX "${key}" ascii)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${ascii}")
  if(NOT image MATCHES "${utf16}0000")
    message(FATAL_ERROR "the version resource of ${LIBRARY} has no ${key} string")
  endif()
endforeach()

# Table lookups and widening multiplies of the high halves occur in the
# NEON kernels only.
execute_process(COMMAND ${OBJDUMP} -d ${LIBRARY} OUTPUT_VARIABLE code RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot disassemble ${LIBRARY}")
endif()
string(REGEX MATCHALL "\t(tbl|smull2)\t" neon "${code}")
list(LENGTH neon neon_count)
if(neon_count EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} carries no NEON kernel code")
endif()
message(STATUS "${LIBRARY}: ARM64 image, version resource with Build, BuildDate and BuildTime, "
               "${neon_count} NEON table and multiply instructions")
message(STATUS "BUILT AND READ, NOT RUN: nothing on this host executes ARM64 Windows programs")

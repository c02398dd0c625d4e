# Fails when any object named in OBJECT_LIST (one per line) has a .CRT$XC*
# section: a C++ initialiser that would run at load. The platform-ABI DLL
# links no runtime, so nothing would run it, and the object it initialises
# would silently stay zero.
#   cmake -DOBJDUMP=llvm-objdump -DOBJECT_LIST=objects.txt -P CheckNoStaticInitializers.cmake
file(STRINGS ${OBJECT_LIST} objects REGEX "\\.obj$")
set(offenders "")
foreach(object IN LISTS objects)
  execute_process(COMMAND ${OBJDUMP} --section-headers ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read the sections of ${object}")
  endif()
  if(sections MATCHES "\\.CRT\\$XC")
    list(APPEND offenders "${object}")
  endif()
endforeach()
if(offenders)
  message(FATAL_ERROR "objects with initialisers that run at load (.CRT$XC sections): ${offenders}")
endif()

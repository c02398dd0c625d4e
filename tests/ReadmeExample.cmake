# Fails unless README.md shows a source file as it stands: the whole file,
# or, given SNIPPETS (names separated by commas), each of its marked parts.
# The file itself is built and run as a test.
#   cmake -DREADME=README.md -DEXAMPLE=examples/example.cpp -P ReadmeExample.cmake
#   cmake -DREADME=README.md -DEXAMPLE=tests/X.cpp -DSNIPPETS=a,b -P ReadmeExample.cmake
# The README marks a copy of the file FILE (its path from the README's
# folder) with "<!-- FILE -->" and "<!-- end of FILE -->" around its code
# block, and of a part NAME with "<!-- FILE: NAME -->" and
# "<!-- end of FILE: NAME -->". In the file, a part stands between the lines
# "// README: NAME" and "// README: end of NAME", and is shown without the
# indentation of the first.
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
get_filename_component(readme_path "${README}" ABSOLUTE)
get_filename_component(readme_dir "${readme_path}" DIRECTORY)
get_filename_component(example_path "${EXAMPLE}" ABSOLUTE)
file(RELATIVE_PATH shown_as "${readme_dir}" "${example_path}")

# The text between the first begin and the first end after it.
function(between text begin end out)
  string(FIND "${text}" "${begin}" start)
  if(start EQUAL -1)
    set(${out} "-NOTFOUND" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${begin}" skip)
  math(EXPR start "${start} + ${skip}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "${end}" length)
  if(length EQUAL -1)
    set(${out} "-NOTFOUND" PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${rest}" 0 ${length} found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

if(NOT DEFINED SNIPPETS)
  between("${readme}" "<!-- ${shown_as} -->\n```cpp\n" "```\n<!-- end of ${shown_as} -->" shown)
  if(shown STREQUAL "-NOTFOUND")
    message(FATAL_ERROR "README.md has no marked copy of ${shown_as}")
  endif()
  if(NOT shown STREQUAL example)
    message(FATAL_ERROR "the program in README.md differs from ${shown_as}")
  endif()
  return()
endif()

string(REPLACE "," ";" snippets "${SNIPPETS}")
foreach(name IN LISTS snippets)
  between("${readme}" "<!-- ${shown_as}: ${name} -->\n```cpp\n" "```\n<!-- end of ${shown_as}: ${name} -->" shown)
  if(shown STREQUAL "-NOTFOUND")
    message(FATAL_ERROR "README.md has no marked copy of ${shown_as}: ${name}")
  endif()
  string(REGEX MATCH "\n([ ]*)// README: ${name}\n" marker "${example}")
  if(NOT marker)
    message(FATAL_ERROR "${shown_as} has no part ${name}")
  endif()
  set(indent "${CMAKE_MATCH_1}")
  between("${example}" "// README: ${name}\n" "${indent}// README: end of ${name}\n" part)
  string(REGEX REPLACE "^${indent}" "" part "${part}")
  string(REPLACE "\n${indent}" "\n" part "${part}")
  if(NOT shown STREQUAL part)
    message(FATAL_ERROR "README.md's ${name} differs from ${shown_as}'s; it should read:\n${part}")
  endif()
endforeach()

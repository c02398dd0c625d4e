# Fails unless the program shown in README.md is examples/example.cpp, as
# it stands (the example itself is built and run as a test).
#   cmake -DREADME=README.md -DEXAMPLE=examples/example.cpp -P ReadmeExample.cmake
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "<!-- examples/example.cpp -->\n```cpp\n" start)
string(FIND "${readme}" "```\n<!-- end of examples/example.cpp -->" end)
if(start EQUAL -1 OR end EQUAL -1)
  message(FATAL_ERROR "README.md has no marked copy of examples/example.cpp")
endif()
math(EXPR start "${start} + 37")
math(EXPR length "${end} - ${start}")
string(SUBSTRING "${readme}" ${start} ${length} shown)
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "the program in README.md differs from examples/example.cpp")
endif()

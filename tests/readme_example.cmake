# Fails when the first C block of docs/c-api.md differs from examples/clean_pcm.c,
# the file the test suite builds and runs.
# usage: cmake -DREADME=docs/c-api.md -DEXAMPLE=... -P readme_example.cmake
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```c\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "no C block in ${README}")
endif()
math(EXPR start "${start} + 5")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "```" stop)
string(SUBSTRING "${rest}" 0 ${stop} shown)
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "the C example in ${README} differs from ${EXAMPLE}")
endif()

# Writes a header that holds a text file as a C++ raw string literal:
#   cmake -DINPUT=<file> -DOUTPUT=<header> -DNAME=<variable> -P embed_text.cmake
file(READ "${INPUT}" text)
set(delimiter "gentrmx_embedded")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string delimiter ${delimiter}")
endif()
get_filename_component(source "${INPUT}" NAME)
set(content "// Generated from ${source} at build time; do not edit.\n#pragma once\n\nstatic const char ${NAME}[] = R\"${delimiter}(${text})${delimiter}\";\n")
# Rewritten only when it changes, so that nothing recompiles needlessly.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")

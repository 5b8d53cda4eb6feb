# Writes the header that gives the program its version: the project's, and the git commit it is
# built from when its sources are a git clone (with " modifié" when the clone holds changes not
# committed). Run at every build, it rewrites the header only when its text changes, so that an
# unchanged commit rebuilds nothing.
#   cmake -DVERSION=<x.y.z> -DSOURCE_DIR=<sources> -DOUTPUT=<header> -P version.cmake

set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  # The sources may lie inside some other repository (an unpacked archive in a versioned home
  # folder): only a clone whose top is the sources' own folder names their commit.
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE top_status ERROR_QUIET)
  file(REAL_PATH "${SOURCE_DIR}" sources)
  if(top_status EQUAL 0)
    file(REAL_PATH "${top}" top)
  endif()
  if(top_status EQUAL 0 AND top STREQUAL sources)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET)
    if(NOT commit STREQUAL "" AND NOT changes STREQUAL "")
      string(APPEND commit " modifié")
    endif()
  endif()
endif()

set(text "// Written by packaging/version.cmake at build time.\n#pragma once\n\n")
string(APPEND text "#define P1_VERSION \"${VERSION}\"\n")
string(APPEND text "#define P1_GIT_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()

cmake_minimum_required(VERSION 3.25)

# Runs the layer check over small trees of its own, one per case, and sees
# it refuse every include that breaks the layers, in either form, and pass
# the ones the layers allow.
#
#   cmake -DCHECK=<CheckLayers.cmake> -DWORK_DIR=<scratch> -P check_layers_test.cmake

# name | file that includes | the include line | refused (1) or allowed (0)
set(cases
  "QuotedUpward|stream/a.cpp|#include \"driver/b.h\"|1"
  "AngledUpward|stream/a.cpp|#include <driver/b.h>|1"
  "SpacedDirective|control/a.cpp|  #  include \"stream/s.h\"|1"
  "InternalFromAnotherFolder|driver/a.cpp|#include \"stream/internal/x.h\"|1"
  "InternalFromTheTests|tests/unit/a.cpp|#include <stream/internal/x.h>|1"
  "ProgramIntoTheDriver|sink/network/a.cpp|#include \"stream/s.h\"|1"
  "SinkLayerUpward|sink/output/a.cpp|#include \"sink/network/x.h\"|1"
  "SystemHeaderAboveTheSinksOs|sink/network/a.cpp|#include <windows.h>|1"
  "TestsIntoTheirOwnHelpers|tests/support/a.h|#include \"native/f.h\"|1"
  "DownwardInclude|driver/a.cpp|#include \"stream/s.h\"|0"
  "InternalFromItsOwnFolder|stream/y.cpp|#include \"stream/internal/x.h\"|0"
  "SystemHeaderOfTheSameName|stream/a.cpp|#include <driver/not_in_the_tree.h>|0"
  "TestsThroughPublicHeaders|tests/unit/a.cpp|#include <driver/b.h>|0"
  "ProgramItsOwnLayers|sink/network/a.cpp|#include \"sink/output/x.h\"|0"
)
# Every case's tree holds these, so that each include names a real file.
set(present driver/b.h stream/s.h stream/internal/x.h sink/output/x.h sink/network/x.h
    tests/native/f.h)

set(failures "")
foreach(case ${cases})
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 including)
  list(GET fields 2 line)
  list(GET fields 3 refused)
  set(tree "${WORK_DIR}/${name}")
  file(REMOVE_RECURSE "${tree}")
  foreach(file ${present})
    file(WRITE "${tree}/${file}" "#pragma once\n")
  endforeach()
  file(WRITE "${tree}/${including}" "// case ${name}\n${line}\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${tree} -P "${CHECK}"
                  RESULT_VARIABLE result ERROR_VARIABLE output OUTPUT_QUIET)
  if(refused AND result EQUAL 0)
    string(APPEND failures "  ${name}: passed, but ${including} breaks the layers\n")
  elseif(refused AND NOT output MATCHES "${including} includes")
    string(APPEND failures "  ${name}: refused without naming ${including}:\n${output}\n")
  elseif(NOT refused AND NOT result EQUAL 0)
    string(APPEND failures "  ${name}: refused an include the layers allow:\n${output}\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "The layer check got cases wrong:\n${failures}")
endif()
message(STATUS "layer check: every case as expected")

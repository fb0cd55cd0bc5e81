cmake_minimum_required(VERSION 3.25)

# Fails the build when a file includes what its folder may not: a layer
# above its own, another program's code, or a folder's internal/ headers
# from outside that folder. Both include forms count ("x/..." and <x/...>);
# an include that names no file of the tree (a system or package header) is
# not looked at.
#
#   cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake

# Where an include path may start: the repository, the tools, the tests.
set(include_roots "." "tools" "tests")

# One row per folder: what its files may include, as folders or single
# headers. A file belongs to the longest folder that holds it; a folder is
# allowed its own files. From the bottom of the driver: platform; asio;
# control, then stream (which carries audio on the control connection);
# driver; com. The driver object is built on COM's object model, so the
# driver may use those few com/ headers, and the ASIO declarations use COM's
# basic types. The programs and the tests see the driver's public headers
# only. The sink is a program of its own, in layers of its own from the
# bottom: os, format, then report and output side by side (neither uses the
# other), network, app; its ASIO output uses our ASIO declarations, the
# driver's class id (never to play to itself) and the host side's driver
# lookup that tavro-play uses too. The settings program sits beside the
# driver, not on it: it shares the control layer and two of the driver's
# tables.
set(sink_folders "sink/os sink/format sink/report sink/output sink/network sink/app")
set(public_folders "platform asio control stream driver com tools/signal tools/play tools/asio_host ${sink_folders} settings")
set(test_folders "tests/support tests/hostile tests/asio_dac tests/alsa tests/fakes tests")
set(layer_rules
  "platform|"
  "asio|com/com_types.h"
  "control|platform asio"
  "stream|control platform asio"
  "driver|stream control platform asio com/com_types.h com/unknown.h com/class_id.h com/module_identity.h"
  "com|driver stream control platform asio"
  "tools/signal|"
  "tools/asio_host|asio com"
  "tools/play|tools/signal tools/asio_host asio com platform"
  "sink/os|"
  "sink/format|sink/os"
  "sink/report|sink/format sink/os tools/signal"
  "sink/output|sink/format sink/os asio com/class_id.h tools/asio_host"
  "sink/network|sink/report sink/output sink/format sink/os tools/signal"
  "sink/app|sink/network sink/report sink/output sink/format sink/os tools/signal"
  "settings|control platform asio driver/control_panel.h driver/buffer_size.h"
  "tests/support|${public_folders} tests/hostile"
  "tests/hostile|${public_folders} tests/support"
  "tests/asio_dac|${public_folders} tests/support"
  "tests/alsa|${public_folders}"
  "tests/fakes|platform"
  "tests|${public_folders} ${test_folders}"
  "bench|${public_folders} tests/support"
  "fuzz|${public_folders}"
)

set(folders "")
foreach(rule ${layer_rules})
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(APPEND folders ${folder})
  list(LENGTH parts count)
  set(allowed_${folder} "${folder}")
  if(count GREATER 1)
    list(GET parts 1 allowed)
    string(REPLACE " " ";" allowed "${allowed}")
    list(APPEND allowed_${folder} ${allowed})
  endif()
endforeach()

# The folder of the table that holds `path` (relative to the repository),
# the longest that matches; empty when none does.
function(owning_folder path out)
  set(best "")
  foreach(folder ${folders})
    string(LENGTH "${folder}" length)
    string(LENGTH "${best}" bestLength)
    if(path MATCHES "^${folder}/" AND length GREATER bestLength)
      set(best "${folder}")
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(folder ${folders})
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
       "${SOURCE_DIR}/${folder}/*.c")
  foreach(source ${sources})
    file(RELATIVE_PATH including "${SOURCE_DIR}" "${source}")
    owning_folder("${including}" home)
    if(NOT home STREQUAL folder)
      continue()  # a folder of its own further down the table
    endif()
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][^>\"]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" included
             "${line}")
      # The file it names in the tree, if any.
      set(target "")
      foreach(root ${include_roots})
        if(EXISTS "${SOURCE_DIR}/${root}/${included}" AND target STREQUAL "")
          file(RELATIVE_PATH target "${SOURCE_DIR}" "${SOURCE_DIR}/${root}/${included}")
        endif()
      endforeach()
      if(target STREQUAL "")
        continue()
      endif()
      owning_folder("${target}" target_folder)
      set(refusal "")
      if(target MATCHES "^(.*)/internal/")
        set(owner "${CMAKE_MATCH_1}")
        if(NOT including MATCHES "^${owner}/")
          set(refusal "an internal header of ${owner}/")
        endif()
      elseif(NOT target_folder IN_LIST allowed_${folder} AND NOT target IN_LIST allowed_${folder})
        set(refusal "${target_folder}/, which ${folder}/ may not include")
      endif()
      if(refusal)
        string(APPEND violations "  ${including} includes ${included}: ${refusal}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

# The operating system is reached through sink/os/ alone: only its backends,
# and the output backends for a device library, include a system's headers.
set(sink_system_headers "^#include <(sys/|netinet/|arpa/|alsa/|poll\\.h|unistd\\.h|fcntl\\.h|signal\\.h|pthread\\.h|sched\\.h|time\\.h|windows\\.h|winsock2\\.h|ws2tcpip\\.h|mmsystem\\.h|objbase\\.h)")
set(sink_system_folders os/posix os/win32 output/alsa output/asio output/wasapi)
file(GLOB_RECURSE sources "${SOURCE_DIR}/sink/*.h" "${SOURCE_DIR}/sink/*.cpp")
foreach(source ${sources})
  file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
  set(backend FALSE)
  foreach(folder ${sink_system_folders})
    if(shown MATCHES "^sink/${folder}/")
      set(backend TRUE)
    endif()
  endforeach()
  if(NOT backend)
    file(STRINGS "${source}" includes REGEX "${sink_system_headers}")
    foreach(line ${includes})
      string(APPEND violations "  ${shown} includes a system header: ${line}\n")
    endforeach()
  endif()
endforeach()

if(violations)
  message(FATAL_ERROR "An include breaks the layers:\n${violations}")
endif()


cmake_minimum_required(VERSION 3.25)

# Fails the build when a folder of the driver includes from a layer above it.
# From the bottom: platform; asio; control, then stream (which carries audio
# on the control connection); driver; com. The driver object is built on
# COM's object model, so the driver may use those few com/ headers, and the
# ASIO declarations use COM's basic types; nothing else of com/ is below.
#
#   cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake

set(allowed_platform platform)
set(allowed_asio asio com/com_types.h)
set(allowed_control control platform asio)
set(allowed_stream stream control platform asio)
set(allowed_driver driver stream control platform asio
    com/com_types.h com/unknown.h com/class_id.h com/module_identity.h)
set(allowed_com com driver stream control platform asio)
# The settings program sits beside the driver, not on it: it shares the
# control exchange and the driver's names for the panel and its buffer sizes.
set(allowed_settings settings control platform asio driver/control_panel.h driver/buffer_size.h)

set(violations "")
foreach(folder platform asio control stream driver com settings)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^#include \"[a-z0-9_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      string(REGEX REPLACE "/.*" "" included_folder "${included}")
      if(NOT included_folder IN_LIST allowed_${folder} AND NOT included IN_LIST allowed_${folder})
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
        string(APPEND violations "  ${shown} includes ${included}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "An include points up the layers (platform, asio, control, stream, driver, com):\n${violations}")
endif()

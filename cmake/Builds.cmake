# What differs between the three builds: the module's own file name, and how
# the executables link on Windows.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TAVRO_DRIVER_OUTPUT_NAME TAVRODriver64)
  else()
    set(TAVRO_DRIVER_OUTPUT_NAME TAVRODriver)
  endif()
  set(TAVRO_DRIVER_PREFIX "")
  set(TAVRO_MODULE_FILE_NAME "${TAVRO_DRIVER_OUTPUT_NAME}.dll")
  # Windows test programs and tools run under Wine: no MinGW runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(TAVRO_DRIVER_OUTPUT_NAME TAVRODriver)
  set(TAVRO_DRIVER_PREFIX "lib")
  set(TAVRO_MODULE_FILE_NAME "libTAVRODriver.so")
endif()

function(tavro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TAVRO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

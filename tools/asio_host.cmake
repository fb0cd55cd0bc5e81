# Finding and creating installed ASIO drivers as Windows hosts do: shared by
# tavro-play and by the sink, which plays to a DAC's own driver.
add_library(tavro_asio_host STATIC ${CMAKE_CURRENT_LIST_DIR}/asio_host/installed_drivers.cpp)
target_include_directories(tavro_asio_host PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tools)
if(WIN32)
  # Host-style activation: Windows' own COM creates the driver.
  target_link_libraries(tavro_asio_host PUBLIC ole32 advapi32)
endif()
tavro_warnings(tavro_asio_host)

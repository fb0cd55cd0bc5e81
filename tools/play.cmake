# tavro-play: a command-line ASIO host that loads the driver library the way
# players do and reports what the driver says. Its host side (sources and the
# stream a host runs) is a library the end-to-end tests drive too.
add_library(tavro_play_host STATIC ${CMAKE_CURRENT_LIST_DIR}/play/audio_source.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/play/player.cpp)
target_include_directories(tavro_play_host PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(tavro_play_host PUBLIC tavro_test_signal)
tavro_warnings(tavro_play_host)

add_executable(tavro-play ${CMAKE_CURRENT_LIST_DIR}/play/main.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/play/driver_library.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/play/streamer_settings_store.cpp)
target_include_directories(tavro-play PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tools)
target_compile_definitions(tavro-play PRIVATE
  TAVRO_DRIVER_FILE_NAME="$<TARGET_FILE_NAME:tavro_driver>")
# The registry is reached through the platform layer; the driver's own logic
# is not linked in: everything it does comes from the loaded library.
target_link_libraries(tavro-play PRIVATE tavro_platform tavro_play_host tavro_asio_host)
add_dependencies(tavro-play tavro_driver)
tavro_warnings(tavro-play)

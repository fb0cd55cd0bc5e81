# A host plays through the real driver to an in-process tavro-sink that checks
# every sample, and streamers and hosts that misbehave.
add_executable(stream_tests ${CMAKE_CURRENT_LIST_DIR}/stream_test.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/hostile_streamer_test.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/sink_server_test.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/fake_stream_driver.cpp)
target_link_libraries(stream_tests PRIVATE tavro_test_support tavro_hostile_peer tavro_play_host
                      GTest::gmock_main)
target_include_directories(stream_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(stream_tests)
gtest_discover_tests(stream_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)

# Drive mode needs the streamer at 127.0.0.1: its own program, under the
# single-PC lock.
add_executable(drive_mode_tests ${CMAKE_CURRENT_LIST_DIR}/drive_mode_test.cpp)
target_link_libraries(drive_mode_tests PRIVATE tavro_test_support tavro_hostile_peer tavro_play_host
                      GTest::gmock_main)
target_include_directories(drive_mode_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(drive_mode_tests)
gtest_discover_tests(drive_mode_tests DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 120 RESOURCE_LOCK loopback-48168)

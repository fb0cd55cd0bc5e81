# tavro-sink's data side against a test playing the driver over loopback (each
# test on a 127.x.y.z address of its own), its file writers, the test signal
# and the sound cards it lists.
add_executable(sink_tests ${CMAKE_CURRENT_LIST_DIR}/sink_stream_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/sink_files_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/test_signal_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/device_format_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/half_feed_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/packet_placement_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/sink_devices_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/sink_stored_settings_test.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/fake_stream_driver.cpp)
target_link_libraries(sink_tests PRIVATE tavro_test_support tavro_test_sound_card tavro_sink_peer
                                         GTest::gmock_main)
tavro_warnings(sink_tests)
gtest_discover_tests(sink_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

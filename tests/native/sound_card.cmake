# The test sound card as a plain alsa-lib application meets it: what the
# tavro-sink tests that play to it rely on.
add_executable(sound_card_tests ${CMAKE_CURRENT_LIST_DIR}/sound_card_test.cpp)
target_link_libraries(sound_card_tests PRIVATE tavro_test_sound_card GTest::gmock_main)
tavro_warnings(sound_card_tests)
gtest_discover_tests(sound_card_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

# tavro-sink plays what the real driver sends to the test sound card, which
# paces it; the card's capture is checked against the test signal.
add_executable(device_stream_tests ${CMAKE_CURRENT_LIST_DIR}/device_stream_test.cpp)
target_link_libraries(device_stream_tests PRIVATE tavro_test_support tavro_hostile_peer
                      tavro_sink_peer tavro_play_host tavro_test_sound_card GTest::gmock_main)
target_include_directories(device_stream_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(device_stream_tests)
gtest_discover_tests(device_stream_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)

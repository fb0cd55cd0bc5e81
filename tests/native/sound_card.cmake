# The test sound card as a plain alsa-lib application meets it: what the
# tavro-sink tests that play to it rely on.
add_executable(sound_card_tests ${CMAKE_CURRENT_LIST_DIR}/sound_card_test.cpp)
target_link_libraries(sound_card_tests PRIVATE tavro_test_sound_card GTest::gmock_main)
tavro_warnings(sound_card_tests)
gtest_discover_tests(sound_card_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

# Start/stop cycles against a streamer that closes, falls silent or sends
# junk, with hosts racing the streaming thread. TAVRO_SOAK_CYCLES sets the
# count (CI: the default; `scripts/soak` runs a thousand).
add_executable(soak_tests ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp)
target_link_libraries(soak_tests PRIVATE tavro_test_support tavro_hostile_peer GTest::gmock_main)
target_include_directories(soak_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(soak_tests)
gtest_discover_tests(soak_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 600)

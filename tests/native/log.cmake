# The opt-in log file, written through a real stream to an in-process sink.
add_executable(driver_log_tests ${CMAKE_CURRENT_LIST_DIR}/driver_log_test.cpp)
target_link_libraries(driver_log_tests PRIVATE tavro_test_support tavro_hostile_peer tavro_play_host
                      GTest::gmock_main)
target_include_directories(driver_log_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(driver_log_tests)
gtest_discover_tests(driver_log_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)

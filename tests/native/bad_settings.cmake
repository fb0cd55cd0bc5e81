# Odd "SinglePCOnly" and "Host" values: each gives its failure, never a crash.
add_executable(bad_settings_tests ${CMAKE_CURRENT_LIST_DIR}/bad_settings_test.cpp)
target_link_libraries(bad_settings_tests PRIVATE tavro_test_support tavro_hostile_peer GTest::gmock_main)
target_include_directories(bad_settings_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(bad_settings_tests)
gtest_discover_tests(bad_settings_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

# A whole host session run once per (platform call, occurrence), with exactly
# that occurrence failing, on each transport.
add_executable(fault_sweep_tests ${CMAKE_CURRENT_LIST_DIR}/fault_sweep_test.cpp)
target_link_libraries(fault_sweep_tests PRIVATE tavro_test_support tavro_sink_peer GTest::gmock_main)
target_include_directories(fault_sweep_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(fault_sweep_tests)
gtest_discover_tests(fault_sweep_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 600)

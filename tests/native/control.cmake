# The control connection against a real tavro-sink over loopback. Each test
# listens on a 127.x.y.z address of its own; the few that need 127.0.0.1 (or
# this PC's own address) are a program of their own, holding a lock.
set(TAVRO_CONTROL_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

add_executable(control_tests ${TAVRO_CONTROL_TEST_DIR}/control_connection_test.cpp
                             ${TAVRO_CONTROL_TEST_DIR}/format_announcement_test.cpp)
target_link_libraries(control_tests PRIVATE tavro_test_support tavro_hostile_peer GTest::gmock_main)
tavro_warnings(control_tests)
gtest_discover_tests(control_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

add_executable(control_single_pc_tests ${TAVRO_CONTROL_TEST_DIR}/control_single_pc_test.cpp)
target_link_libraries(control_single_pc_tests PRIVATE tavro_test_support tavro_hostile_peer
                      GTest::gmock_main)
tavro_warnings(control_single_pc_tests)
gtest_discover_tests(control_single_pc_tests DISCOVERY_TIMEOUT 30
                     PROPERTIES TIMEOUT 60 RESOURCE_LOCK loopback-48168)

# The settings window's Test, against the same peer.
add_executable(settings_probe_tests ${TAVRO_CONTROL_TEST_DIR}/settings_probe_test.cpp)
target_link_libraries(settings_probe_tests PRIVATE tavro_settings_model tavro_test_support
                      tavro_hostile_peer GTest::gmock_main)
tavro_warnings(settings_probe_tests)
gtest_discover_tests(settings_probe_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

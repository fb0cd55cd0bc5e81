# The data transport driven directly over loopback sockets, against a
# receiving peer of the test's own on a 127.x.y.z address of its own.
add_executable(transport_tests ${CMAKE_CURRENT_LIST_DIR}/transport_wire_test.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/transport_failure_test.cpp)
target_link_libraries(transport_tests PRIVATE tavro_test_support GTest::gmock_main)
tavro_warnings(transport_tests)
gtest_discover_tests(transport_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

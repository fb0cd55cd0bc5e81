# The data transport of the Windows builds, driven directly under Wine against
# an in-process Winsock peer on a 127.x.y.z address of the test's own: the
# same wire test as natively (TCP, plain UDP, and the fallback when there is
# no Registered I/O), and the transport chosen from the version Wine reports.
add_executable(transport_wine_test
  ${PROJECT_SOURCE_DIR}/tests/native/transport_wire_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transport_version_test.cpp)
target_include_directories(transport_wine_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/native)
target_link_libraries(transport_wine_test PRIVATE tavro_test_support GTest::gmock_main)
tavro_warnings(transport_wine_test)

# Notification spies watch broadcasts, so these take turns with the other
# programs that watch or make them.
add_test(NAME transport COMMAND transport_wine_test --gtest_brief=1)
set_tests_properties(transport PROPERTIES
  TIMEOUT 420 RESOURCE_LOCK "tavro_desktop_session;tavro_transport_loopback"
  ENVIRONMENT "TAVRO_EXPECT_WINDOWS_VERSION=6.1;TAVRO_WINE_EXCLUSIVE=1;TAVRO_WINE_TIMEOUT=90;TAVRO_WINE_LOCK_WAIT=240")

add_test(NAME transport_windows8
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/windows8_prefix.sh ${TAVRO_WINE_RUN}
          ${CMAKE_BINARY_DIR}/wine-windows8-prefix $<TARGET_FILE:transport_wine_test>
          --gtest_brief=1 --gtest_filter=WindowsVersionTest.*)
set_tests_properties(transport_windows8 PROPERTIES
  TIMEOUT 600 RESOURCE_LOCK tavro_transport_loopback
  ENVIRONMENT "TAVRO_EXPECT_WINDOWS_VERSION=6.2;TAVRO_WINE_TIMEOUT=90")

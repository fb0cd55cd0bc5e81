# The Windows driver's init against the native tavro-sink over loopback. The
# sink comes from the native build (TAVRO_NATIVE_SINK); without it the test
# is skipped. The test writes the user's streamer settings, so it runs in a
# Wine prefix of its own, where no other test reads them.
set(TAVRO_NATIVE_SINK "${PROJECT_SOURCE_DIR}/build/native/tools/tavro-sink"
    CACHE FILEPATH "tavro-sink of the native build, for the Wine control test")

add_executable(control_init_test ${CMAKE_CURRENT_LIST_DIR}/control_init_test.cpp)
target_link_libraries(control_init_test PRIVATE tavro_test_support GTest::gmock_main)
tavro_warnings(control_init_test)

add_test(NAME control_init
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_with_sink.sh ${TAVRO_NATIVE_SINK}
          ${TAVRO_WINE_RUN} $<TARGET_FILE:control_init_test> --gtest_brief=1)
set_tests_properties(control_init PROPERTIES
  TIMEOUT 420 SKIP_RETURN_CODE 77
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-control-prefix;TAVRO_WINE_TIMEOUT=90")

# The shipped DLL end to end under Wine: tavro-play.exe, a command-line host,
# against the native tavro-sink over loopback. Shares its Wine prefix (and the
# user's streamer settings in it) with control_init, so the two take turns.
add_test(NAME play_against_sink
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_with_sink.sh ${TAVRO_NATIVE_SINK}
          ${CMAKE_CURRENT_LIST_DIR}/play_against_sink.sh ${TAVRO_WINE_RUN}
          $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>)
set_tests_properties(play_against_sink PROPERTIES
  TIMEOUT 420 SKIP_RETURN_CODE 77 RESOURCE_LOCK tavro_control_prefix
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-control-prefix;TAVRO_WINE_TIMEOUT=90")
set_tests_properties(control_init PROPERTIES RESOURCE_LOCK tavro_control_prefix)

# Plays the test signal through the shipped DLL to the native tavro-sink,
# which checks every sample: TCP and plain UDP, PCM and DSD.
add_test(NAME play_stream
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/play_stream.sh ${TAVRO_WINE_RUN} ${TAVRO_NATIVE_SINK}
          $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>)
set_tests_properties(play_stream PROPERTIES
  TIMEOUT 600 RESOURCE_LOCK tavro_control_prefix
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-control-prefix;TAVRO_WINE_TIMEOUT=60")

# The notification codes as a real top-level window receives them, with the
# error text the host gets, against a misbehaving streamer: the native
# build's tavro-test-sink, tavro-sink with the misbehaviours the tests need.
set(TAVRO_NATIVE_TEST_SINK "${PROJECT_SOURCE_DIR}/build/native/tests/hostile/tavro-test-sink"
    CACHE FILEPATH "tavro-test-sink of the native build, for the Wine notification tests")
add_executable(notification_listener ${CMAKE_CURRENT_LIST_DIR}/notification_listener.cpp)
tavro_warnings(notification_listener)
add_test(NAME notifications_seen_by_a_window
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/notifications.sh ${TAVRO_WINE_RUN} ${TAVRO_NATIVE_TEST_SINK}
          $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>
          $<TARGET_FILE:notification_listener>)
set_tests_properties(notifications_seen_by_a_window PROPERTIES
  TIMEOUT 600 RESOURCE_LOCK "tavro_control_prefix;tavro_desktop_session"
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-control-prefix;TAVRO_WINE_TIMEOUT=60")

# Drive mode: code 10 when no drive is removable, none when Wine's drive Q:
# is. A prefix of this test's own, since it changes the prefix's drives; the
# streamer must be on this PC, so the sink takes 127.0.0.1.
add_test(NAME notifications_drive_mode
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/notifications.sh ${TAVRO_WINE_RUN} ${TAVRO_NATIVE_SINK}
          $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>
          $<TARGET_FILE:notification_listener> drives)
set_tests_properties(notifications_drive_mode PROPERTIES
  TIMEOUT 600 RESOURCE_LOCK "tavro_single_pc_streamer;tavro_desktop_session;tavro_transport_loopback"
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-drive-prefix;TAVRO_WINE_TIMEOUT=90")

# One PC without a DAC: tavro-play.exe through the shipped DLL to
# tavro-sink.exe, which plays to the stand-in DAC's ASIO driver; the
# stand-in's capture is checked against the test signal.
if(TARGET tavro-sink)
  add_test(NAME sink_through_asio
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sink_asio.sh ${TAVRO_WINE_RUN} $<TARGET_FILE:tavro-sink>
            $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver> $<TARGET_FILE:tavro_test_dac>
            $<TARGET_FILE:capture_check> $<TARGET_FILE:notification_listener>)
  set_tests_properties(sink_through_asio PROPERTIES
    TIMEOUT 900 RESOURCE_LOCK tavro_desktop_session ENVIRONMENT "TAVRO_WINE_TIMEOUT=90")
endif()

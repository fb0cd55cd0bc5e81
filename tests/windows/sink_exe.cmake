# tavro-sink.exe under Wine, played to through the shipped DLL from
# tavro-play.exe on the same Wine machine, over TCP and UDP, and with its
# settings from the registry, changed between two streams. Shares the control
# tests' prefix (and the streamer settings tavro-play writes there); the
# stored streamer settings it writes are removed again.
if(TARGET tavro-sink)
  add_test(NAME sink_exe
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sink_exe.sh ${TAVRO_WINE_RUN} $<TARGET_FILE:tavro-sink>
            $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>)
  set_tests_properties(sink_exe PROPERTIES
    TIMEOUT 420 RESOURCE_LOCK tavro_control_prefix
    ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-control-prefix;TAVRO_WINE_TIMEOUT=120")
endif()

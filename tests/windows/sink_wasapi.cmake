# One PC, a DAC without an ASIO driver: tavro-play.exe through the shipped
# DLL to tavro-sink.exe, which plays to a Wine WASAPI endpoint in exclusive
# mode. Wine's endpoint is the test tree's paced ALSA card (the native
# build's plugin), whose capture is checked against the test signal.
set(TAVRO_NATIVE_ALSA_TEST_PLUGIN
    "${PROJECT_SOURCE_DIR}/build/native/tests/alsa/libasound_module_pcm_tavrotest.so"
    CACHE FILEPATH "The native build's ALSA test card, for the Wine WASAPI test")
if(TARGET tavro-sink)
  add_test(NAME sink_through_wasapi
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sink_wasapi.sh ${TAVRO_WINE_RUN} $<TARGET_FILE:tavro-sink>
            $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver> ${TAVRO_NATIVE_ALSA_TEST_PLUGIN}
            $<TARGET_FILE:capture_check> $<TARGET_FILE:notification_listener>)
  set_tests_properties(sink_through_wasapi PROPERTIES
    TIMEOUT 900 SKIP_RETURN_CODE 77 RESOURCE_LOCK tavro_desktop_session
    ENVIRONMENT "TAVRO_WINE_TIMEOUT=90")
endif()

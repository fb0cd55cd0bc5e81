# TAVROSettings.exe on a virtual display (Xvfb), driven through its control
# ids by a small program, against the native streamers: 64-bit only, as the
# program is. A prefix of its own: its windows need Wine's X11 driver, not
# the null one the other tests' prefixes use, and it writes the user's settings.
if(TAVRO_WINE_ARCH EQUAL 64)
  add_executable(settings_window_driver ${CMAKE_CURRENT_LIST_DIR}/settings_window_driver.cpp)
  target_include_directories(settings_window_driver PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(settings_window_driver PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  tavro_warnings(settings_window_driver)
  add_test(NAME settings_window
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/settings_window.sh ${TAVRO_WINE_RUN} ${TAVRO_NATIVE_SINK}
            ${TAVRO_NATIVE_TEST_SINK} $<TARGET_FILE:settings_window_driver>
            $<TARGET_FILE:TAVROSettings> $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_driver>
            ${CMAKE_BINARY_DIR}/settings-window)
  set_tests_properties(settings_window PROPERTIES
    TIMEOUT 600 ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-settings-prefix;TAVRO_WINE_TIMEOUT=90")
endif()

# The real shared library: loaded and called as an ASIO host loads the DLL
# (the test source is shared with the Windows builds), and its dynamic symbols
# checked.
add_executable(dll_activation_test
  ${PROJECT_SOURCE_DIR}/tests/windows/dll_activation_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/module_loader.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/notification_spy_posix.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/vtable_call.cpp)
# Only the platform layer, never the driver's code: everything the test calls
# must come from the library it loads.
target_link_libraries(dll_activation_test PRIVATE tavro_platform GTest::gmock_main)
target_include_directories(dll_activation_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(dll_activation_test PRIVATE
  TAVRO_DRIVER_PATH="$<TARGET_FILE:tavro_driver>"
  TAVRO_DRIVER_FILE_NAME="$<TARGET_FILE_NAME:tavro_driver>"
  TAVRO_FAKE_PANEL_PATH="$<TARGET_FILE:fake_control_panel>")
add_dependencies(dll_activation_test tavro_driver fake_control_panel)
tavro_warnings(dll_activation_test)

# The control panel's mutex is visible to every process: these cases take
# turns with the unit tests that create it or expect the panel to start.
gtest_discover_tests(dll_activation_test DISCOVERY_TIMEOUT 30
  PROPERTIES TIMEOUT 60 RESOURCE_LOCK tavro_desktop_session)

add_test(NAME dll_exports
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/check_dll_exports.sh elf ${CMAKE_NM}
          $<TARGET_FILE:tavro_driver>)
set_tests_properties(dll_exports PROPERTIES TIMEOUT 60)

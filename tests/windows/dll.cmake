# The real DLL: loaded and called as an ASIO host does, and its export and
# import tables checked.

# Build paths are Unix paths; under Wine, drive Z: is the Unix root.
if(CMAKE_HOST_UNIX)
  set(TAVRO_WINE_DRIVE "Z:")
endif()

add_executable(dll_activation_test
  ${CMAKE_CURRENT_LIST_DIR}/dll_activation_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/module_loader.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/notification_spy_win32.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/vtable_call.cpp)
# Only the platform layer, never the driver's code: everything the test calls
# must come from the DLL it loads.
target_link_libraries(dll_activation_test PRIVATE tavro_platform GTest::gmock_main)
target_include_directories(dll_activation_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(dll_activation_test PRIVATE
  TAVRO_DRIVER_PATH="${TAVRO_WINE_DRIVE}$<TARGET_FILE:tavro_driver>"
  TAVRO_DRIVER_FILE_NAME="$<TARGET_FILE_NAME:tavro_driver>"
  TAVRO_FAKE_PANEL_PATH="${TAVRO_WINE_DRIVE}$<TARGET_FILE:fake_control_panel>")
add_dependencies(dll_activation_test tavro_driver fake_control_panel)
tavro_warnings(dll_activation_test)

# Named kernel objects and broadcast window messages are shared by every
# process of the Wine prefix: tests that create the control panel's mutex or
# watch for broadcasts take turns, within one ctest run (RESOURCE_LOCK) and
# across runs sharing the prefix (TAVRO_WINE_EXCLUSIVE, see cmake/wine-run).
# The limit covers waiting for the prefix and the run itself.
add_test(NAME dll_activation COMMAND dll_activation_test --gtest_brief=1)
set_tests_properties(dll_activation PROPERTIES
  TIMEOUT 420 RESOURCE_LOCK tavro_desktop_session
  ENVIRONMENT "TAVRO_WINE_EXCLUSIVE=1;TAVRO_WINE_TIMEOUT=90;TAVRO_WINE_LOCK_WAIT=240")

add_test(NAME dll_exports
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/check_dll_exports.sh pe ${CMAKE_OBJDUMP}
          $<TARGET_FILE:tavro_driver>)
set_tests_properties(dll_exports PROPERTIES TIMEOUT 60)

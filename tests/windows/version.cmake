# The DLL's version resource, read back through the system's version API.
add_executable(version_resource_test ${CMAKE_CURRENT_LIST_DIR}/version_resource_test.cpp)
target_link_libraries(version_resource_test PRIVATE GTest::gtest_main version)
target_compile_definitions(version_resource_test PRIVATE
  TAVRO_DRIVER_PATH="${TAVRO_WINE_DRIVE}$<TARGET_FILE:tavro_driver>"
  TAVRO_DRIVER_FILE_NAME="$<TARGET_FILE_NAME:tavro_driver>"
  TAVRO_PROJECT_VERSION="${PROJECT_VERSION}"
  TAVRO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} TAVRO_VERSION_MINOR=${PROJECT_VERSION_MINOR})
add_dependencies(version_resource_test tavro_driver)
tavro_warnings(version_resource_test)
add_test(NAME version_resource COMMAND version_resource_test --gtest_brief=1)
set_tests_properties(version_resource PROPERTIES TIMEOUT 300 ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")

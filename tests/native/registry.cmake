# The file-backed registry across processes, and self-registration of the real
# shared library loaded at run time.
add_executable(registry_tests ${CMAKE_CURRENT_LIST_DIR}/registry_store_test.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/registration_library_test.cpp)
target_link_libraries(registry_tests PRIVATE tavro_test_support GTest::gmock_main
                      ${CMAKE_DL_LIBS})
target_compile_definitions(registry_tests PRIVATE
  TAVRO_DRIVER_LIBRARY="$<TARGET_FILE:tavro_driver>")
add_dependencies(registry_tests tavro_driver)
tavro_warnings(registry_tests)
gtest_discover_tests(registry_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)

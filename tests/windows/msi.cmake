# The Windows Installer package under 64-bit Wine, in a prefix of its own: made
# from the win64 and win32 trees (both must be built), installed, played
# through bit-exact to the native tavro-sink, installed again, upgraded and
# uninstalled. The package is x64 only, so the win32 build has no such test.
if(TAVRO_WINE_ARCH EQUAL 64)
  add_test(NAME package_msi
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_msi.sh ${TAVRO_WINE_RUN} ${PROJECT_SOURCE_DIR}
            ${TAVRO_NATIVE_SINK})
  set_tests_properties(package_msi PROPERTIES
    TIMEOUT 300 RESOURCE_LOCK "tavro_package;tavro_transport_loopback"
    ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")
endif()

# The release package under Wine, in a prefix of its own: made from the win64
# and win32 trees (both must be built), installed by its install.cmd, this
# build's DLL listed and created through Windows' COM by the packaged
# tavro-play and played bit-exact to the native tavro-sink, then uninstalled.
add_test(NAME package_install
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_install.sh ${TAVRO_WINE_RUN} ${TAVRO_WINE_ARCH}
          ${PROJECT_SOURCE_DIR} ${TAVRO_NATIVE_SINK})
set_tests_properties(package_install PROPERTIES
  TIMEOUT 900 RESOURCE_LOCK "tavro_package;tavro_transport_loopback" ENVIRONMENT "TAVRO_WINE_TIMEOUT=200")

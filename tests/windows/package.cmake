# The release package under Wine, in a prefix of its own: made from the win64
# and win32 trees (both must be built), installed by its install.cmd, this
# build's DLL listed and created through Windows' COM by the packaged
# tavro-play and played bit-exact to the native tavro-sink, then uninstalled.
add_test(NAME package_install
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_install.sh ${TAVRO_WINE_RUN} ${TAVRO_WINE_ARCH}
          ${PROJECT_SOURCE_DIR} ${TAVRO_NATIVE_SINK})
set_tests_properties(package_install PROPERTIES
  TIMEOUT 420 RESOURCE_LOCK "tavro_package;tavro_transport_loopback" ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")

# Which regsvr32 install.cmd and uninstall.cmd pick on 64-bit Windows with and
# without its 32-bit subsystem, from a 32-bit prompt and on 32-bit Windows:
# made-up Windows folders with recording regsvr32s, so 64-bit Wine alone
# covers them all.
if(TAVRO_WINE_ARCH EQUAL 64)
  add_executable(fake_regsvr32 ${CMAKE_CURRENT_LIST_DIR}/fake_regsvr32.cpp)
  tavro_warnings(fake_regsvr32)
  add_test(NAME install_scripts
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_scripts.sh ${TAVRO_WINE_RUN}
            ${PROJECT_SOURCE_DIR} $<TARGET_FILE:fake_regsvr32>)
  set_tests_properties(install_scripts PROPERTIES TIMEOUT 300 ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")
endif()

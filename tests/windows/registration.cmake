# Self-registration through the system's own tools: regsvr32 and reg under Wine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVRO_REGISTRY_VIEW 64)
else()
  set(TAVRO_REGISTRY_VIEW 32)
endif()
add_test(NAME registration
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/registration.sh ${TAVRO_WINE_RUN}
                 $<TARGET_FILE:tavro_driver> ${TAVRO_REGISTRY_VIEW})
set_tests_properties(registration PROPERTIES TIMEOUT 300 RESOURCE_LOCK wine-registry ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")

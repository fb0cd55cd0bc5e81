# The stand-in for a DAC's own ASIO driver (tests/asio_dac) as hosts meet it.
add_test(NAME asio_dac_host
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/asio_dac_host.sh ${TAVRO_WINE_RUN}
          $<TARGET_FILE:tavro-play> $<TARGET_FILE:tavro_test_dac> $<TARGET_FILE:capture_check>)
set_tests_properties(asio_dac_host PROPERTIES TIMEOUT 300 ENVIRONMENT "TAVRO_WINE_TIMEOUT=60")

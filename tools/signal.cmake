# The test signal that tavro-play writes into the driver's buffers and that
# tavro-sink checks at the receiving end. Built in every build: tavro-play
# links it on Windows too.
add_library(tavro_test_signal STATIC ${CMAKE_CURRENT_LIST_DIR}/signal/test_signal.cpp)
target_include_directories(tavro_test_signal PUBLIC ${CMAKE_CURRENT_LIST_DIR})
tavro_warnings(tavro_test_signal)

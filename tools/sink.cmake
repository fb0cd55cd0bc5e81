# tavro-sink: the streamer on TCP port 48168, playing to a sound card through
# alsa-lib or checking a set-up. The tests link its core (and build their
# misbehaving streamers on its hooks). Linux only.
if(NOT WIN32)
  add_library(tavro_sink_peer STATIC
    ${CMAKE_CURRENT_LIST_DIR}/sink/sink_peer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/peer_streams.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/waiting_peers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/sink_arguments.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/allow_list.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/control_frame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/foreground.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/text16.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/send_all.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/stream_format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/stream_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/stream_receiver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/stream_report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/tick_pacer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/thread_priority.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/latency_stats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/packet_inspector.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/packet_consumer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/wav_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/dsf_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/device_probe.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/busy_holder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/datagram_intake.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/device_format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/alsa_messages.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/alsa_output.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/device_player.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/loss_deadline.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sink/device_list.cpp)
  target_include_directories(tavro_sink_peer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  find_package(Threads REQUIRED)
  find_package(ALSA REQUIRED)
  target_link_libraries(tavro_sink_peer PUBLIC tavro_test_signal Threads::Threads ALSA::ALSA)
  tavro_warnings(tavro_sink_peer)

  add_executable(tavro-sink ${CMAKE_CURRENT_LIST_DIR}/sink/main.cpp)
  target_link_libraries(tavro-sink PRIVATE tavro_sink_peer)
  tavro_warnings(tavro-sink)
endif()

#pragma once
// The one stream slot of a process: one stream at a time, whichever driver
// object started it. The driver's process owner holds it; sessions point to it.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/net.h"
#include "platform/thread.h"
#include "stream/session.h"
#include "stream/stream_end_flag.h"
#include "stream/transport_state.h"

namespace tavro::stream {

struct StreamState {
  std::atomic<platform::Socket> dataSocket{platform::kInvalidSocket};
  // True while no stream runs; whoever flips it to true ends the stream.
  StreamEndFlag streamStopped;
  // The session that streams, until a host's thread has wound it up.
  std::atomic<Session*> running{nullptr};
  // True while the streaming thread may be putting a packet on the wire: a
  // host's stop waits for it rather than cut the packet short, which the
  // streamer would read as a broken stream.
  std::atomic<bool> sending{false};
  // Written by start before the thread exists, read after it has been joined.
  platform::ThreadHandle streamThread = nullptr;
  // What start found, so that the end of the stream puts it back.
  platform::ThreadHandle hostThread = nullptr;
  uintptr_t hostAffinity = 0;
  uint32_t priorityClass = platform::kNormalPriorityClass;
  DataTransportState transport;
  // Two host threads stopping at once: one joins the thread, the other waits.
  std::mutex joining;
};

// Runs at most once per stream, whichever thread gets there first: closes
// the control connection, and on a host's thread first wakes the streaming
// thread and waits for it to end; in UDP mode with `sendStopSignalFirst`
// the stop datagram goes out in between. False when the stream had already
// ended (or never began).
bool endStream(Session& session, bool sendStopSignalFirst = false) noexcept;

// On a host's thread: waits for a streaming thread that has ended or is
// ending, and puts back the host thread's affinity. Never waits for the
// calling thread itself (a host may stop from inside its buffer switch).
void joinStreamThread(StreamState& slot) noexcept;

// Closes the data socket if open and frees everything the data transport
// holds, the datagram slots included. Only once no streaming thread runs.
void releaseDataTransport(StreamState& slot) noexcept;

}  // namespace tavro::stream

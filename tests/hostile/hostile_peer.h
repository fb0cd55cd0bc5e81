#pragma once
// tavro-sink's peer turned into a streamer that misbehaves on purpose: a
// reply cut short, dribbled, doubled, never sent or never ended; a refused
// announcement; ticks of the wrong size, a flood of them, or none at all
// after a while. The driver must survive each; the shipped sink does none of
// them, so they are made here through its hooks.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sink/network/sink_peer.h"

namespace tavro::testing {

enum class Misbehaviour {
  kNone,
  kShortFrame,       // send the first 100 bytes of the reply, then close
  kWrongFirstUnit,   // the reply's first unit becomes 'X'
  kSilentThenClose,  // no reply; close after `silence`
  kClose,            // close at once, without a reply
  kUnterminated,     // the reply fills all 512 units, no NUL
  kTrickle,          // the reply goes out one byte per TCP segment
  kGlued,            // the reply and a second copy of it in one send
  kSilent,           // no reply; the connection stays open until the driver closes it
};

struct StepScript {
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::optional<std::string> reply;  // instead of the usual reply (UTF-8)
};

// How the data side ticks.
enum class TickStyle {
  kPaced,        // `tickBytes` per tick, one per half-buffer period
  kEveryLength,  // paced, tick k holding k % 65 bytes: 1 to 64, then 0, and again
  kFlood,        // ticks as fast as the socket takes them
};

// The sink's settings, and what it does wrong.
struct HostileOptions : sink::SinkOptions {
  // The announcement: 0 accepts with "+OK", n refuses with "ERROR n".
  int refuse = 0;
  // Units after a reply's NUL are filled with '~' instead of zeros, as a
  // streamer that reuses its buffer leaves them.
  bool dirtyTail = false;
  // At the tick limit, fall silent with the connection open instead of
  // closing it, as a streamer that hangs does.
  bool silentAtLimit = false;
  // Bytes per tick (1 to 64); anything but 2 is no tick to a driver.
  uint32_t tickBytes = 2;
  TickStyle tickStyle = TickStyle::kPaced;
  std::array<StepScript, sink::kStepCount> script{};
  std::chrono::milliseconds silence{200};
};

// Hooks that make a peer do what `options` asks; none where it asks nothing,
// so that a well-behaved case runs the shipped code.
sink::SinkHooks hostileHooks(const HostileOptions& options);

std::unique_ptr<sink::SinkPeer> makeHostilePeer(const HostileOptions& options,
                                                sink::SinkPeer::LineSink print = nullptr);

}  // namespace tavro::testing

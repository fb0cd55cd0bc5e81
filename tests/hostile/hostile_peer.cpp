#include "hostile/hostile_peer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sink/network/text16.h"
#include "sink/os/socket.h"

namespace tavro::testing {
namespace {

using sink::kFrameBytes;
using sink::kFrameUnits;
using sink::os::sendAll;
using sink::Step;

constexpr size_t kShortFrameBytes = 100;
constexpr char16_t kTailFill = u'~';
// Far faster than any host fills buffers, yet yielding the processor.
constexpr std::chrono::microseconds kFloodGap{20};

// Waits `limit`, or less when the peer is stopped meanwhile.
void pause(int wake, std::chrono::milliseconds limit) {
  pollfd stop{wake, POLLIN, 0};
  while (::poll(&stop, 1, static_cast<int>(limit.count())) < 0 && errno == EINTR) {
  }
}

const StepScript& scriptOf(const HostileOptions& options, Step step) {
  return options.script[static_cast<size_t>(step)];
}

bool isScripted(const StepScript& script) {
  return script.misbehaviour != Misbehaviour::kNone || script.reply.has_value();
}

bool sendReply(const HostileOptions& options, const sink::ReplyTurn& turn) {
  const StepScript& script = scriptOf(options, turn.step);
  const std::string where = std::string("at the ") + sink::stepName(turn.step);
  switch (script.misbehaviour) {
    case Misbehaviour::kClose:
      turn.print("closing " + where + " without a reply");
      return false;
    case Misbehaviour::kSilent:
      turn.print("silent " + where + "; waiting for the driver to close");
      return true;
    case Misbehaviour::kSilentThenClose:
      turn.print("silent " + where);
      pause(turn.wake, options.silence);
      turn.print("closing after the silence");
      return false;
    default:
      break;
  }

  std::u16string units = sink::toUtf16(script.reply.value_or(turn.reply));
  if (units.size() > kFrameUnits - 1) units.resize(kFrameUnits - 1);
  if (script.misbehaviour == Misbehaviour::kWrongFirstUnit) {
    if (units.empty()) units.push_back(u'X');
    units[0] = u'X';
  }
  if (script.misbehaviour == Misbehaviour::kUnterminated) units.resize(kFrameUnits, u'#');
  uint8_t frame[kFrameBytes];
  for (size_t i = 0; i < kFrameUnits; ++i) {
    char16_t unit = u'\0';
    if (i < units.size()) {
      unit = units[i];
    } else if (i > units.size() && options.dirtyTail) {
      unit = kTailFill;
    }
    frame[2 * i] = static_cast<uint8_t>(unit & 0xFF);
    frame[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
  }
  turn.print("reply: " + sink::escaped(sink::toUtf8(units)));

  switch (script.misbehaviour) {
    case Misbehaviour::kShortFrame:
      sendAll(turn.connection, frame, kShortFrameBytes);
      turn.print("closing after a short frame of " + std::to_string(kShortFrameBytes) + " bytes");
      return false;
    case Misbehaviour::kTrickle: {
      // Each byte its own segment: no coalescing, and a pause the receiver
      // must wait through between them.
      const int on = 1;
      ::setsockopt(turn.connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      for (size_t i = 0; i < kFrameBytes; ++i) {
        if (!sendAll(turn.connection, frame + i, 1)) return false;
        ::usleep(50);
      }
      return true;
    }
    case Misbehaviour::kGlued: {
      uint8_t twice[2 * kFrameBytes];
      std::memcpy(twice, frame, kFrameBytes);
      std::memcpy(twice + kFrameBytes, frame, kFrameBytes);
      return sendAll(turn.connection, twice, sizeof twice);
    }
    default:
      return sendAll(turn.connection, frame, kFrameBytes);
  }
}

sink::Answer judgeAnnouncement(const HostileOptions& options, sink::Answer usual) {
  if (options.refuse != 0) return {"ERROR " + std::to_string(options.refuse), false};
  // Only a whole "+OK", however it was sent, starts a stream.
  const StepScript& script = scriptOf(options, Step::kAnnouncement);
  const bool whole = !script.reply && (script.misbehaviour == Misbehaviour::kNone ||
                                       script.misbehaviour == Misbehaviour::kTrickle ||
                                       script.misbehaviour == Misbehaviour::kGlued);
  usual.startsStream = usual.startsStream && whole;
  return usual;
}

}  // namespace

sink::SinkHooks hostileHooks(const HostileOptions& options) {
  auto shared = std::make_shared<const HostileOptions>(options);
  sink::SinkHooks hooks;
  if (options.dirtyTail || std::any_of(options.script.begin(), options.script.end(), isScripted)) {
    hooks.sendReply = [shared](const sink::ReplyTurn& turn) { return sendReply(*shared, turn); };
  }
  if (options.refuse != 0 || isScripted(scriptOf(options, Step::kAnnouncement))) {
    hooks.judgeAnnouncement = [shared](const std::u16string&, sink::Answer usual) {
      return judgeAnnouncement(*shared, std::move(usual));
    };
  }
  if (options.tickStyle == TickStyle::kEveryLength) {
    hooks.ticks.length = [](uint64_t slot) { return static_cast<uint32_t>(slot % 65); };
  } else if (options.tickBytes != 2) {
    const uint32_t bytes = std::clamp<uint32_t>(options.tickBytes, 1, 64);
    hooks.ticks.length = [bytes](uint64_t) { return bytes; };
  }
  if (options.tickStyle == TickStyle::kFlood) hooks.ticks.gap = kFloodGap;
  hooks.ticks.silentAtLimit = options.silentAtLimit;
  return hooks;
}

std::unique_ptr<sink::SinkPeer> makeHostilePeer(const HostileOptions& options,
                                                sink::SinkPeer::LineSink print) {
  return std::make_unique<sink::SinkPeer>(options, std::move(print), hostileHooks(options));
}

}  // namespace tavro::testing

#include "sink/network/sink_peer.h"

#include <algorithm>
#include <cmath>

#include "sink/network/text16.h"
#include "sink/output/device_list.h"
#include "sink/os/clock.h"
#include "sink/os/poll.h"

namespace tavro::sink {
namespace {

// Room for the datagrams of several packets while the receiver is busy.
constexpr int kDatagramBufferBytes = 8 << 20;
// Peers in their control exchange at once: far more than players on a home
// network, few enough that a flood of connections costs little.
constexpr size_t kMostWaiting = 16;
constexpr int kListenBacklog = 64;
// A driver that vanished (its PC asleep, unplugged, off the Wi-Fi) leaves a
// half-open connection that would last for hours: probes after 4 s idle,
// and unanswered data or probes give it up after 10 s.
constexpr int kKeepIdleSeconds = 4;
constexpr int kKeepIntervalSeconds = 2;
constexpr int kKeepProbes = 3;
constexpr unsigned kUserTimeoutMs = 10'000;
// Out of descriptors: a pause before trying again, instead of a busy loop.
constexpr int64_t kAcceptPauseNs = 100'000'000;

std::string joinNumbers(const SinkOptions& o) {
  // Five words, the buffer-size index, then seven pairs of a word and a number.
  return "sget TAVRO sink settings v1 " + std::to_string(o.bufferIndex) + " transport " +
         std::to_string(o.transport) + " interface " + std::to_string(o.interfaceIndex) +
         " wordLength " + std::to_string(o.wordLength) + " shift " + std::to_string(o.shift) +
         " spare 0 invert 0 driveMode " + std::to_string(o.driveMode);
}

}  // namespace

std::string greetingReply(const SinkOptions& options) {
  return "OK " + (options.greetingAddress.empty() ? options.address : options.greetingAddress);
}

static SinkOptions advertised(const SinkOptions& options) {
  if (!options.interfacesOfDevices || options.device.empty()) return options;
  SinkOptions shown = options;
  shown.interfaces = playbackDeviceNames();
  const auto chosen = std::find(shown.interfaces.begin(), shown.interfaces.end(), options.device);
  if (chosen == shown.interfaces.end()) {
    // A device not listed (an alsa-lib name of the user's own) is still the one that plays.
    shown.interfaces.insert(shown.interfaces.begin(), options.device);
    shown.interfaceIndex = 0;
  } else {
    shown.interfaceIndex = static_cast<uint32_t>(chosen - shown.interfaces.begin());
  }
  return shown;
}

std::string settingsReply(const SinkOptions& options) { return joinNumbers(advertised(options)); }

std::string interfacesReply(const SinkOptions& options) {
  // One name per line; the reply's leading "s" rides on the first one.
  std::string reply = "s";
  for (const std::string& name : advertised(options).interfaces) reply += name + "\n";
  return reply;
}

SinkPeer::SinkPeer(SinkOptions options, LineSink print, SinkHooks hooks, OptionsRefresh refresh)
    : given_(std::move(options)),
      options_(given_),
      printer_(std::move(print)),
      hooks_(std::move(hooks)),
      refresh_(std::move(refresh)) {}

void SinkPeer::refreshOptions() {
  if (refresh_) options_ = refresh_(given_, [this](const std::string& line) { print(line); });
}

SinkPeer::~SinkPeer() { stop(); }

bool SinkPeer::start(std::string* error) {
  std::string why;
  if (!os::startSockets(why)) {
    if (error != nullptr) *error = why;
    return false;
  }
  refreshOptions();
  int code = 0;
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + ": " + os::errorText(code);
    os::closeSocket(listener_);
    os::closeSocket(datagrams_);
    listener_ = datagrams_ = os::kNoSocket;
    wake_.close();
    streamDone_.close();
    return false;
  };
  os::Endpoint local{0, options_.port};
  if (!os::parseIpv4(options_.address, local.address)) {
    if (error != nullptr) *error = "not an IPv4 address: " + options_.address;
    return false;
  }
  listener_ = os::listenTcp(local, kListenBacklog, code);
  if (listener_ == os::kNoSocket) {
    return fail("cannot listen on " + options_.address + ":" + std::to_string(options_.port));
  }
  if (options_.transport == 2 || refresh_) {
    // Bound before any driver connects: a driver using Registered I/O sends
    // to this port from the moment it has connected its socket. Settings
    // that may change can ask for datagrams at any connection.
    datagrams_ = os::bindUdp(local, kDatagramBufferBytes, code);
    if (datagrams_ == os::kNoSocket) {
      return fail("cannot take datagrams on " + options_.address + ":" +
                  std::to_string(options_.port));
    }
  }
  if (!wake_.open(code) || !streamDone_.open(code)) return fail("cannot make a waker");
  print("listening on " + options_.address + ":" + std::to_string(options_.port));
  thread_ = std::thread([this] { run(); });
  return true;
}

void SinkPeer::stop() {
  if (thread_.joinable()) {
    wake_.wake();
    thread_.join();
  }
  os::closeSocket(listener_);
  os::closeSocket(datagrams_);
  listener_ = datagrams_ = os::kNoSocket;
  wake_.close();
  streamDone_.close();
}

std::vector<std::string> SinkPeer::received() const {
  std::lock_guard guard(lock_);
  return received_;
}

std::vector<std::string> SinkPeer::lines() const {
  std::lock_guard guard(lock_);
  return lines_;
}

bool SinkPeer::waitForEnded(int count, std::chrono::milliseconds limit) const {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [&] { return ended_.load() >= count; });
}

std::vector<StreamReport> SinkPeer::reports() const {
  std::lock_guard guard(lock_);
  return reports_;
}

bool SinkPeer::waitForReports(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [&] { return reports_.size() >= count; });
}

void SinkPeer::print(const std::string& line) {
  const std::lock_guard printing(printLock_);
  {
    std::lock_guard guard(lock_);
    lines_.push_back(line);
  }
  if (printer_) printer_(line);
}

void SinkPeer::connectionEnded() {
  {
    std::lock_guard guard(lock_);
    ended_.fetch_add(1);
  }
  changed_.notify_all();
  if (given_.once) finished_.store(true);
}

void SinkPeer::run() {
  WaitingPeers waiting(
      kMostWaiting,
      std::chrono::duration_cast<std::chrono::nanoseconds>(options_.exchangeLimit).count());
  std::vector<os::PollEntry> watched;
  while (!finished_.load()) {
    const std::vector<os::Socket> peers = waiting.fds();
    watched.assign({os::readable(wake_.watched()), os::readable(streamDone_.watched()),
                    os::readable(listener_)});
    for (const os::Socket fd : peers) watched.push_back(os::readable(fd));
    const int ready =
        os::poll(watched.data(), watched.size(), waiting.nsUntilNextDeadline(os::monotonicNs()));
    if (ready < 0) break;
    if (watched[0].revents != 0) break;
    // The stream ended by itself: its thread is joined, and the cause it
    // is given comes too late to matter.
    if (watched[1].revents != 0) endStream(StreamEnd::kDriver);
    for (size_t i = 0; i < peers.size(); ++i) {
      if (watched[3 + i].revents == 0) continue;
      WaitingPeer* peer = waiting.find(peers[i]);
      if (peer == nullptr) continue;
      switch (waiting.read(*peer, os::monotonicNs())) {
        case WaitingPeers::Read::kPartial:
          break;
        case WaitingPeers::Read::kClosed:
          print(peer->bytes == 0
                    ? "closed by the driver"
                    : "closed by the driver after " + std::to_string(peer->bytes) + " bytes");
          waiting.remove(peer->fd);
          connectionEnded();
          break;
        case WaitingPeers::Read::kFrame:
          serveFrame(waiting, *peer);
          break;
      }
    }
    if (watched[2].revents != 0) accept(waiting);
    for (const std::string& line : waiting.dropOverdue(os::monotonicNs())) {
      print(line);
      connectionEnded();
    }
  }
  endStream(StreamEnd::kStopped);
  waiting.closeAll();
  device_.reset();
}

void SinkPeer::accept(WaitingPeers& waiting) {
  const os::Accepted accepted = os::acceptFrom(listener_);
  const os::Socket connection = accepted.socket;
  if (connection == os::kNoSocket) {
    if (accepted.exhausted) {
      print("cannot take a connection: " + os::errorText(accepted.code));
      os::PollEntry stopped = os::readable(wake_.watched());
      os::poll(&stopped, 1, kAcceptPauseNs);
    }
    return;
  }
  const std::string where = os::endpointText(accepted.from);
  accepted_.fetch_add(1);
  if (!isAllowed(options_.allow, accepted.from.address)) {
    print("refusing the connection from " + where + ": not in --allow");
    os::closeSocket(connection);
    connectionEnded();
    return;
  }
  print("connection from " + where);
  // Only between exchanges: a peer already told its settings must not have
  // its stream taken with others.
  if (waiting.size() == 0) refreshOptions();
  os::noticeVanishing(connection, kKeepIdleSeconds, kKeepIntervalSeconds, kKeepProbes,
                      kUserTimeoutMs);
  if (const std::string evicted =
          waiting.add(connection, where, os::ipv4Text(accepted.from.address), os::monotonicNs());
      !evicted.empty()) {
    print("dropping " + evicted + ": " + std::to_string(kMostWaiting) +
          " connections wait for their exchange, and it is the oldest");
    connectionEnded();
  }
}

void SinkPeer::serveFrame(WaitingPeers& waiting, WaitingPeer& peer) {
  const std::u16string text = decodeFrame(peer.frame);
  const os::Socket connection = peer.fd;
  const std::string from = peer.from;
  const std::string printable = toUtf8(text);
  {
    std::lock_guard guard(lock_);
    received_.push_back(printable);
  }
  const Step step = classify(text);
  if (step == Step::kGreeting) peer.greeted = true;
  print(std::string("received ") + stepName(step) + ": " + escaped(printable));
  if (step == Step::kAnnouncement && streamThread_.joinable()) {
    if (options_.noTakeover) {
      print("refusing the stream with \"ERROR 1\": " + streamFrom_ + " is playing (--no-takeover)");
      if (!sendReply(connection, step, "ERROR 1")) {
        waiting.remove(connection);
        connectionEnded();
        return;
      }
      waiting.restart(peer, os::monotonicNs());
      return;
    }
    print(from + " takes over from " + streamFrom_);
    endStream(StreamEnd::kTakenOver);
  }
  // Datagrams left from an earlier stream must not pass for this one's priming.
  if (step == Step::kAnnouncement) flushDatagrams();
  const Answer answer = answerTo(step, text, peer.address);
  if (!sendReply(connection, step, answer.reply)) {
    device_.reset();  // a card opened for a stream that never started
    waiting.remove(connection);
    connectionEnded();
    return;
  }
  if (answer.startsStream) {
    waiting.remove(connection, true);
    startStream(connection, text, from);
    return;
  }
  device_.reset();
  waiting.restart(peer, os::monotonicNs());
}

Answer SinkPeer::answerTo(Step step, const std::u16string& text, const std::string& from) {
  switch (step) {
    case Step::kGreeting:
      // The driver binds its datagram socket to the address in this reply,
      // so it must be one of the driver's own: listening on every address,
      // the sink has none of its own to give, and gives the one the driver
      // came from.
      if (options_.greetingAddress.empty() && options_.address == "0.0.0.0") {
        return {"OK " + from};
      }
      return {greetingReply(options_)};
    case Step::kSettings:
      return {settingsReply(options_)};
    case Step::kInterfaces:
      return {interfacesReply(options_)};
    case Step::kAnnouncement:
      return judgeAnnouncement(text);
    case Step::kUnknown:
      break;
  }
  return {"ERROR unknown request"};
}

bool SinkPeer::sendReply(os::Socket connection, Step step, const std::string& reply) {
  if (hooks_.sendReply) {
    return hooks_.sendReply({connection, wake_.watched(), step, reply,
                             [this](const std::string& line) { print(line); }});
  }
  uint8_t frame[kFrameBytes];
  const std::u16string units = encodeFrame(reply, frame);
  print("reply: " + escaped(toUtf8(units)));
  // A reply never waits: a fresh connection has room for it, and one without
  // room belongs to a peer that does not read its replies, which must not
  // stall every other peer while it sits.
  const os::Io sent = os::send(connection, frame, kFrameBytes);
  if (sent.bytes == static_cast<int64_t>(kFrameBytes)) return true;
  print(sent.error != os::IoError::kNone && !sent.again()
            ? "cannot reply: " + os::errorText(sent.code)
            : std::string("dropping the peer: it does not read its replies"));
  return false;
}

void SinkPeer::flushDatagrams() {
  if (datagrams_ == os::kNoSocket) return;
  uint8_t scrap[1];
  os::Endpoint from;
  while (os::receiveFrom(datagrams_, scrap, sizeof scrap, from).error == os::IoError::kNone) {
  }
}

}  // namespace tavro::sink

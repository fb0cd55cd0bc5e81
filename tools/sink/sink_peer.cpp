#include "sink/sink_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "sink/alsa_messages.h"
#include "sink/monotonic.h"
#include "sink/text16.h"

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
constexpr int kAcceptPauseMs = 100;

void noticeVanishing(int fd) {
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
  // Keepalive alone never fires while ticks wait for an acknowledgement.
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
}

std::string joinNumbers(const SinkOptions& o) {
  // Five words, the buffer-size index, then seven pairs of a word and a number.
  return "sget TAVRO sink settings v1 " + std::to_string(o.bufferIndex) + " transport " +
         std::to_string(o.transport) + " interface " + std::to_string(o.interfaceIndex) +
         " wordLength " + std::to_string(o.wordLength) + " shift " + std::to_string(o.shift) +
         " spare 0 invert 0 driveMode " + std::to_string(o.driveMode);
}

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

std::string greetingReply(const SinkOptions& options) {
  return "OK " + (options.greetingAddress.empty() ? options.address : options.greetingAddress);
}

std::string settingsReply(const SinkOptions& options) { return joinNumbers(options); }

std::string interfacesReply(const SinkOptions& options) {
  // One name per line; the reply's leading "s" rides on the first one.
  std::string reply = "s";
  for (const std::string& name : options.interfaces) reply += name + "\n";
  return reply;
}

SinkPeer::SinkPeer(SinkOptions options, LineSink print, SinkHooks hooks)
    : options_(std::move(options)), printer_(std::move(print)), hooks_(std::move(hooks)) {}

SinkPeer::~SinkPeer() { stop(); }

bool SinkPeer::start(std::string* error) {
  takeOverAlsaMessages();
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    closeQuietly(listener_);
    closeQuietly(datagrams_);
    closeQuietly(wake_[0]);
    closeQuietly(wake_[1]);
    closeQuietly(streamDone_[0]);
    closeQuietly(streamDone_[1]);
    listener_ = datagrams_ = wake_[0] = wake_[1] = streamDone_[0] = streamDone_[1] = -1;
    return false;
  };
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(options_.port);
  if (::inet_pton(AF_INET, options_.address.c_str(), &local.sin_addr) != 1) {
    errno = EINVAL;
    return fail("not an IPv4 address: " + options_.address);
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return fail("socket");
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return fail("cannot listen on " + options_.address + ":" + std::to_string(options_.port));
  }
  if (::listen(listener_, kListenBacklog) != 0) return fail("listen");
  if (options_.transport == 2) {
    // Bound before any driver connects: a driver using Registered I/O sends
    // to this port from the moment it has connected its socket.
    datagrams_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (datagrams_ < 0) return fail("socket");
    if (::setsockopt(datagrams_, SOL_SOCKET, SO_RCVBUFFORCE, &kDatagramBufferBytes,
                     sizeof kDatagramBufferBytes) != 0) {
      ::setsockopt(datagrams_, SOL_SOCKET, SO_RCVBUF, &kDatagramBufferBytes,
                   sizeof kDatagramBufferBytes);
    }
    if (::bind(datagrams_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      return fail("cannot take datagrams on " + options_.address + ":" +
                  std::to_string(options_.port));
    }
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) return fail("pipe");
  if (::pipe2(streamDone_, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
  print("listening on " + options_.address + ":" + std::to_string(options_.port));
  thread_ = std::thread([this] { run(); });
  return true;
}

void SinkPeer::stop() {
  if (thread_.joinable()) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  closeQuietly(listener_);
  closeQuietly(datagrams_);
  closeQuietly(wake_[0]);
  closeQuietly(wake_[1]);
  closeQuietly(streamDone_[0]);
  closeQuietly(streamDone_[1]);
  listener_ = datagrams_ = wake_[0] = wake_[1] = streamDone_[0] = streamDone_[1] = -1;
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
  if (options_.once) finished_.store(true);
}

void SinkPeer::run() {
  WaitingPeers waiting(
      kMostWaiting,
      std::chrono::duration_cast<std::chrono::nanoseconds>(options_.exchangeLimit).count());
  std::vector<pollfd> watched;
  while (!finished_.load()) {
    const std::vector<int> peers = waiting.fds();
    watched.assign({{wake_[0], POLLIN, 0}, {streamDone_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
    for (const int fd : peers) watched.push_back({fd, POLLIN, 0});
    const int ready =
        ::poll(watched.data(), watched.size(), waiting.msUntilNextDeadline(monotonicNs()));
    if (ready < 0 && errno != EINTR) break;
    if (watched[0].revents != 0) break;
    // The stream ended by itself: its thread is joined, and the cause it
    // is given comes too late to matter.
    if (watched[1].revents != 0) endStream(StreamEnd::kDriver);
    for (size_t i = 0; i < peers.size(); ++i) {
      if (watched[3 + i].revents == 0) continue;
      WaitingPeer* peer = waiting.find(peers[i]);
      if (peer == nullptr) continue;
      switch (waiting.read(*peer, monotonicNs())) {
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
    for (const std::string& line : waiting.dropOverdue(monotonicNs())) {
      print(line);
      connectionEnded();
    }
  }
  endStream(StreamEnd::kStopped);
  waiting.closeAll();
  device_.reset();
}

void SinkPeer::accept(WaitingPeers& waiting) {
  sockaddr_in from{};
  socklen_t fromSize = sizeof from;
  const int connection =
      ::accept4(listener_, reinterpret_cast<sockaddr*>(&from), &fromSize, SOCK_CLOEXEC);
  if (connection < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      print(std::string("cannot take a connection: ") + std::strerror(errno));
      pollfd stopped{wake_[0], POLLIN, 0};
      ::poll(&stopped, 1, kAcceptPauseMs);
    }
    return;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  const std::string where = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
  accepted_.fetch_add(1);
  if (!isAllowed(options_.allow, ntohl(from.sin_addr.s_addr))) {
    print("refusing the connection from " + where + ": not in --allow");
    ::close(connection);
    connectionEnded();
    return;
  }
  print("connection from " + where);
  noticeVanishing(connection);
  if (const std::string evicted = waiting.add(connection, where, text, monotonicNs());
      !evicted.empty()) {
    print("dropping " + evicted + ": " + std::to_string(kMostWaiting) +
          " connections wait for their exchange, and it is the oldest");
    connectionEnded();
  }
}

void SinkPeer::serveFrame(WaitingPeers& waiting, WaitingPeer& peer) {
  const std::u16string text = decodeFrame(peer.frame);
  const int connection = peer.fd;
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
      waiting.restart(peer, monotonicNs());
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
  waiting.restart(peer, monotonicNs());
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

bool SinkPeer::sendReply(int connection, Step step, const std::string& reply) {
  if (hooks_.sendReply) {
    return hooks_.sendReply(
        {connection, wake_[0], step, reply, [this](const std::string& line) { print(line); }});
  }
  uint8_t frame[kFrameBytes];
  const std::u16string units = encodeFrame(reply, frame);
  print("reply: " + escaped(toUtf8(units)));
  // A reply never waits: a fresh connection has room for it, and one without
  // room belongs to a peer that does not read its replies, which must not
  // stall every other peer while it sits.
  const ssize_t sent = ::send(connection, frame, kFrameBytes, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent == static_cast<ssize_t>(kFrameBytes)) return true;
  print(sent < 0 && errno != EAGAIN
            ? std::string("cannot reply: ") + std::strerror(errno)
            : std::string("dropping the peer: it does not read its replies"));
  return false;
}

void SinkPeer::flushDatagrams() {
  if (datagrams_ < 0) return;
  uint8_t scrap[1];
  while (::recv(datagrams_, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
  }
}

}  // namespace tavro::sink

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
#include "sink/device_list.h"
#include "sink/send_all.h"
#include "sink/stream_session.h"
#include "sink/text16.h"

namespace tavro::sink {
namespace {

// Room for the datagrams of several packets while the receiver is busy.
constexpr int kDatagramBufferBytes = 8 << 20;

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
    listener_ = datagrams_ = -1;
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
  if (::listen(listener_, 4) != 0) return fail("listen");
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
  listener_ = datagrams_ = wake_[0] = wake_[1] = -1;
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
  {
    std::lock_guard guard(lock_);
    lines_.push_back(line);
  }
  if (printer_) printer_(line);
}

bool SinkPeer::waitReadable(int fd, int timeoutMs) {
  pollfd watched[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(watched, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    return (watched[1].revents & POLLIN) == 0;
  }
}

void SinkPeer::run() {
  for (;;) {
    if (!waitReadable(listener_, -1)) return;
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const int connection =
        ::accept4(listener_, reinterpret_cast<sockaddr*>(&from), &fromSize, SOCK_CLOEXEC);
    if (connection < 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    accepted_.fetch_add(1);
    driverAddress_ = text;
    print(std::string("connection from ") + text + ":" + std::to_string(ntohs(from.sin_port)));
    serve(connection);
    device_.reset();  // a card opened for a stream that never started
    ::close(connection);
    {
      std::lock_guard guard(lock_);
      ended_.fetch_add(1);
    }
    changed_.notify_all();
    if (options_.once) {
      finished_.store(true);
      return;
    }
  }
}

bool SinkPeer::readFrame(int connection, std::u16string& text, size_t& bytes) {
  uint8_t frame[kFrameBytes];
  bytes = 0;
  while (bytes < kFrameBytes) {
    if (!waitReadable(connection, -1)) return false;
    const ssize_t count = ::recv(connection, frame + bytes, kFrameBytes - bytes, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    bytes += static_cast<size_t>(count);
  }
  text = decodeFrame(frame);
  return true;
}

void SinkPeer::serve(int connection) {
  for (;;) {
    std::u16string text;
    size_t bytes = 0;
    if (!readFrame(connection, text, bytes)) {
      print(bytes == 0 ? "closed by the driver"
                       : "closed by the driver after " + std::to_string(bytes) + " bytes");
      return;
    }
    const std::string printable = toUtf8(text);
    {
      std::lock_guard guard(lock_);
      received_.push_back(printable);
    }
    const Step step = classify(text);
    print(std::string("received ") + stepName(step) + ": " + escaped(printable));
    // Datagrams left from an earlier stream must not pass for this one's priming.
    if (step == Step::kAnnouncement) flushDatagrams();
    const Answer answer = answerTo(step, text);
    if (!sendReply(connection, step, answer.reply)) return;
    if (answer.startsStream) {
      takeStream(connection, text);
      return;
    }
  }
}

Answer SinkPeer::answerTo(Step step, const std::u16string& text) {
  switch (step) {
    case Step::kGreeting:
      // The driver binds its datagram socket to the address in this reply,
      // so it must be one of the driver's own: listening on every address,
      // the sink has none of its own to give, and gives the one the driver
      // came from.
      if (options_.greetingAddress.empty() && options_.address == "0.0.0.0") {
        return {"OK " + driverAddress_};
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

Answer SinkPeer::judgeAnnouncement(const std::u16string& announcement) {
  Answer usual{"+OK", true};
  // With a sound card, the card decides: a stream it cannot play is refused
  // before the driver starts it.
  if (!options_.device.empty()) {
    if (const int refusal = openDevice(announcement); refusal != 0) {
      usual = {"ERROR " + std::to_string(refusal), false};
    }
  }
  if (!hooks_.judgeAnnouncement) return usual;
  return hooks_.judgeAnnouncement(announcement, std::move(usual));
}

bool SinkPeer::sendReply(int connection, Step step, const std::string& reply) {
  if (hooks_.sendReply) {
    return hooks_.sendReply(
        {connection, wake_[0], step, reply, [this](const std::string& line) { print(line); }});
  }
  uint8_t frame[kFrameBytes];
  const std::u16string units = encodeFrame(reply, frame);
  print("reply: " + escaped(toUtf8(units)));
  return sendAll(connection, frame, kFrameBytes);
}

void SinkPeer::flushDatagrams() {
  if (datagrams_ < 0) return;
  uint8_t scrap[1];
  while (::recv(datagrams_, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
  }
}

int SinkPeer::openDevice(const std::u16string& announcement) {
  device_.reset();
  DeviceRequest& request = deviceRequest_;
  const std::optional<StreamFormat> format =
      parseAnnouncement(toUtf8(announcement), options_.transport == 2, nullptr);
  if (!format) return 0;
  request.name = options_.device;
  request.bits = format->bits;
  request.rate = format->rate;
  request.packetFrames = format->packetFrames;
  request.dopStream = dopPossible(*format) && options_.dop != DopMode::kOff;
  request.dsd = options_.dsd;
  request.bufferPackets = options_.bufferPackets;
  DeviceRefusal refusal;
  device_ = AlsaOutput::open(request, refusal);
  if (device_) return 0;
  print("refusing the stream with \"ERROR " + std::to_string(refusal.code) +
        "\": " + refusal.reason);
  const std::string offer = describeOffer(options_.device);
  size_t from = 0;
  while (from < offer.size()) {
    const size_t end = std::min(offer.find('\n', from), offer.size());
    if (end > from) print("  " + offer.substr(from, end - from));
    from = end + 1;
  }
  return refusal.code;
}

void SinkPeer::takeStream(int connection, const std::u16string& announcement) {
  std::unique_ptr<AlsaOutput> device = std::move(device_);
  std::string why;
  const std::optional<StreamFormat> format =
      parseAnnouncement(toUtf8(announcement), options_.transport == 2, &why);
  if (!format) {
    print("announcement not understood (" + why + "); draining the connection");
    drainStream(connection);
    return;
  }
  SessionSetup setup;
  setup.control = connection;
  setup.udp = options_.transport == 2 ? datagrams_ : -1;
  setup.wake = wake_[0];
  setup.transport = options_.transport == 2 ? 2 : 1;
  setup.tickLimit = options_.tickLimit;
  setup.ticks = hooks_.ticks;
  if (setup.tickLimit == 0 && options_.seconds > 0) {
    const double ticks = options_.seconds * format->rate / format->packetFrames;
    setup.tickLimit = ticks < 1 ? 1 : static_cast<uint64_t>(std::llround(ticks));
  }
  setup.consumer.format = *format;
  setup.consumer.dop = options_.dop;
  setup.consumer.verify = options_.verify;
  setup.consumer.shift = options_.shift;
  setup.consumer.outputDir = options_.outputDir;
  setup.consumer.stream = ++streams_;
  setup.print = [this](const std::string& line) { print(line); };
  setup.statusSeconds = options_.statusSeconds;
  // Ticks are two bytes each and must leave at once.
  const int on = 1;
  ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  print("format accepted; taking the stream");
  StreamReport report =
      device ? runDeviceStream(setup, std::move(device), deviceRequest_) : runStream(setup);
  {
    std::lock_guard guard(lock_);
    reports_.push_back(std::move(report));
  }
  changed_.notify_all();
}

void SinkPeer::drainStream(int connection) {
  uint64_t total = 0;
  uint8_t buffer[4096];
  for (;;) {
    if (!waitReadable(connection, -1)) break;
    const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    total += static_cast<uint64_t>(count);
  }
  print("stream ended after " + std::to_string(total) + " bytes");
}

}  // namespace tavro::sink

#include "fake_stream_driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "signal/test_signal.h"

namespace tavro::testing {
namespace {

constexpr uint16_t kPort = 48168;
constexpr size_t kFrameBytes = 1024;
constexpr auto kGiveUp = std::chrono::seconds(20);

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in sinkAddress(const std::string& address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kPort);
  ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  return to;
}

bool sendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool sendFrame(int fd, const std::string& text) {
  uint8_t frame[kFrameBytes] = {};
  for (size_t i = 0; i < text.size(); ++i) frame[2 * i] = static_cast<uint8_t>(text[i]);
  return sendAll(fd, frame, sizeof frame);
}

std::string receiveFrame(int fd) {
  uint8_t frame[kFrameBytes];
  size_t got = 0;
  while (got < sizeof frame) {
    const ssize_t count = ::recv(fd, frame + got, sizeof frame - got, 0);
    if (count <= 0) return "";
    got += static_cast<size_t>(count);
  }
  std::string text;
  for (size_t i = 0; i < kFrameBytes / 2 && (frame[2 * i] | frame[2 * i + 1]) != 0; ++i) {
    text.push_back(static_cast<char>(frame[2 * i]));
  }
  return text;
}

void put(std::vector<uint8_t>& out, uint32_t word, int from, int to) {
  for (int b = from; b <= to; ++b) out.push_back(static_cast<uint8_t>(word >> (8 * b)));
}

}  // namespace

uint32_t packetBytes(const FakeStream& s) { return s.packetFrames * s.bits / 8 * 2; }

uint32_t datagramSize(const FakeStream& s) {
  const uint32_t n = packetBytes(s);
  if (s.priming == Priming::kNone || n <= 49152) return n;
  for (const uint32_t size : {49152u, 40960u, 24576u}) {
    if (n % size == 0) return size;
  }
  return 32768;
}

std::vector<uint8_t> packPacket(const FakeStream& s, uint64_t index, bool swapped) {
  std::vector<uint8_t> out;
  auto channel = [&](uint32_t c) { return swapped ? 1 - c : c; };
  if (s.dop) {
    // Two DoP frames per host word; word w of a channel holds DSD bytes 4w..4w+3.
    for (uint64_t w = index * s.packetFrames / 2; w < (index + 1) * s.packetFrames / 2; ++w) {
      uint32_t word[2];
      for (uint32_t c = 0; c < 2; ++c) {
        word[c] = 0;
        for (uint32_t b = 0; b < 4; ++b) {
          word[c] |= static_cast<uint32_t>(signal::dsdByte(channel(c), 4 * w + b)) << (8 * b);
        }
      }
      const uint8_t frame[12] = {
          static_cast<uint8_t>(word[0] >> 8),  static_cast<uint8_t>(word[0]),       0x05,
          static_cast<uint8_t>(word[1] >> 8),  static_cast<uint8_t>(word[1]),       0x05,
          static_cast<uint8_t>(word[0] >> 24), static_cast<uint8_t>(word[0] >> 16), 0xFA,
          static_cast<uint8_t>(word[1] >> 24), static_cast<uint8_t>(word[1] >> 16), 0xFA};
      out.insert(out.end(), frame, frame + sizeof frame);
    }
    return out;
  }
  for (uint64_t n = index * s.packetFrames; n < (index + 1) * s.packetFrames; ++n) {
    for (uint32_t c = 0; c < 2; ++c) {
      const auto word = static_cast<uint32_t>(signal::pcmSample(channel(c), n) >> (s.shift % 32));
      if (s.bits == 16) put(out, word, 2, 3);
      if (s.bits == 24) put(out, word, 1, 3);
      if (s.bits == 32) put(out, word, 0, 3);
    }
  }
  return out;
}

namespace {

class FakeDriver {
 public:
  explicit FakeDriver(const FakeStream& stream) : s_(stream), to_(sinkAddress(stream.address)) {}

  FakeResult run() {
    control_ = std::make_unique<Fd>(::socket(AF_INET, SOCK_STREAM, 0));
    if (::connect(control_->get(), reinterpret_cast<const sockaddr*>(&to_), sizeof to_) != 0) {
      return result_;
    }
    if (!sendFrame(control_->get(), "TAVROHello") || receiveFrame(control_->get()).empty()) {
      return result_;
    }
    if (s_.priming != Priming::kNone) openDatagrams();
    const std::string announcement = "+ SampleRate " + std::to_string(s_.rate) + " Bits " +
                                     std::to_string(s_.bits) + " PacketSize " +
                                     std::to_string(s_.packetFrames) + " DatagramSize " +
                                     std::to_string(datagramSize(s_));
    sendFrame(control_->get(), announcement);
    result_.reply = receiveFrame(control_->get());
    if (result_.reply != "+OK") return result_;
    if (s_.priming != Priming::kNone) {
      const std::vector<uint8_t> zeros(datagramSize(s_), 0);
      datagram(zeros.data(), s_.priming == Priming::kRegistered ? zeros.size() : 32);
    }
    sendPacket();
    serveTicks();
    return std::move(result_);
  }

 private:
  void openDatagrams() {
    data_ = std::make_unique<Fd>(::socket(AF_INET, SOCK_DGRAM, 0));
    if (s_.priming == Priming::kRegistered) {
      ::connect(data_->get(), reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    } else {
      sockaddr_in local = to_;
      local.sin_port = 0;
      ::bind(data_->get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    }
  }

  void datagram(const uint8_t* bytes, size_t size) {
    if (s_.priming == Priming::kRegistered) {
      ::send(data_->get(), bytes, size, 0);
    } else {
      ::sendto(data_->get(), bytes, size, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }
  }

  void sendPacket() {
    const uint64_t index = result_.packetsSent;
    const bool faulty = s_.fault != Fault::kNone && index == s_.faultPacket;
    std::vector<uint8_t> packet = packPacket(s_, index, faulty && s_.fault == Fault::kSwapChannels);
    if (faulty && s_.fault == Fault::kFlipByte) packet[5 * (s_.bits / 4) + s_.bits / 8 - 1] ^= 0xFF;
    if (faulty && s_.fault == Fault::kWrongMarker) packet[2] = 0xFA;
    if (faulty && s_.fault == Fault::kShortPacket) packet.pop_back();
    if (faulty && s_.fault == Fault::kForeignDatagram) {
      Fd stranger(::socket(AF_INET, SOCK_DGRAM, 0));
      const std::vector<uint8_t> noise(datagramSize(s_), 0x5A);
      ::sendto(stranger.get(), noise.data(), noise.size(), 0,
               reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }
    result_.data.insert(result_.data.end(), packet.begin(), packet.end());
    ++result_.packetsSent;
    if (s_.priming == Priming::kNone) {
      sendAll(control_->get(), packet.data(), packet.size());
      return;
    }
    const size_t piece = datagramSize(s_);
    for (size_t at = 0; at < packet.size(); at += piece) {
      datagram(packet.data() + at, std::min(piece, packet.size() - at));
    }
  }

  // Ticks come on the control connection (mode 1) or as datagrams (mode 2);
  // the sink closing the control connection ends the stream either way.
  void serveTicks() {
    const auto giveUp = std::chrono::steady_clock::now() + kGiveUp;
    while (std::chrono::steady_clock::now() < giveUp) {
      if (s_.packets != 0 && result_.packetsSent >= s_.packets) {
        stopAsTheDriverDoes();
        return;
      }
      pollfd watched[2] = {{control_->get(), POLLIN, 0}, {data_ ? data_->get() : -1, POLLIN, 0}};
      if (::poll(watched, 2, 100) <= 0) continue;
      uint8_t buffer[64];
      if (watched[0].revents != 0) {
        const ssize_t count = ::recv(control_->get(), buffer, sizeof buffer, 0);
        if (count <= 0) {
          result_.closedBySink = true;
          return;
        }
        // Ticks read together are still one packet each.
        if (s_.priming == Priming::kNone) answer(static_cast<size_t>(count) / 2);
      }
      if (watched[1].revents != 0) {
        const ssize_t count = ::recv(data_->get(), buffer, sizeof buffer, 0);
        if (count == 2) answer(1);
      }
    }
  }

  void answer(size_t ticks) {
    for (size_t i = 0; i < ticks; ++i) {
      if (s_.packets == 0 || result_.packetsSent < s_.packets) sendPacket();
    }
  }

  void stopAsTheDriverDoes() {
    if (s_.priming != Priming::kNone) {
      const uint8_t stop[11] = {};
      datagram(stop, s_.priming == Priming::kRegistered ? 1 : sizeof stop);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::shutdown(control_->get(), SHUT_RDWR);
  }

  const FakeStream& s_;
  const sockaddr_in to_;
  std::unique_ptr<Fd> control_;
  std::unique_ptr<Fd> data_;
  FakeResult result_;
};

}  // namespace

FakeResult runFakeDriver(const FakeStream& stream) { return FakeDriver(stream).run(); }

}  // namespace tavro::testing

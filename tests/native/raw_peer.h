#pragma once
// A peer of the sink's that the test plays byte by byte over a real
// connection: to be a scanner, a frozen player, or a client from a chosen
// address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "sink/network/control_frame.h"
#include "sink/network/sink_peer.h"
#include "sink/network/text16.h"

namespace tavro::testing {

inline sockaddr_in endpoint(const std::string& address, uint16_t port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  return where;
}

// A TCP connection to the sink from `source` (any port), or -1.
inline int connectToSink(const std::string& sink, const std::string& source = "") {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (!source.empty()) {
    const sockaddr_in local = endpoint(source, 0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  const sockaddr_in remote = endpoint(sink, sink::kStreamerPort);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool sendFrame(int fd, const std::string& text) {
  uint8_t frame[sink::kFrameBytes];
  sink::encodeFrame(text, frame);
  return ::send(fd, frame, sizeof frame, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof frame);
}

// The reply frame's text; empty when the sink closed the connection first
// or sent nothing within `limit`.
inline std::string readReply(int fd,
                             std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  uint8_t frame[sink::kFrameBytes];
  size_t got = 0;
  const auto until = std::chrono::steady_clock::now() + limit;
  while (got < sizeof frame) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          until - std::chrono::steady_clock::now())
                          .count();
    pollfd readable{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0) return {};
    const ssize_t count = ::recv(fd, frame + got, sizeof frame - got, 0);
    if (count <= 0) return {};
    got += static_cast<size_t>(count);
  }
  return sink::toUtf8(sink::decodeFrame(frame));
}

// Reads and drops the ticks until the sink closes; false when it is still
// open after `limit`.
inline bool closesWithin(int fd, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  uint8_t scrap[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          until - std::chrono::steady_clock::now())
                          .count();
    pollfd readable{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0) return false;
    if (::recv(fd, scrap, sizeof scrap, 0) <= 0) return true;
  }
}

// A player that announced a stream, was answered "+OK", and froze: it
// reads no tick and sends no packet, as a PC gone to sleep. Its connection,
// or -1 when the sink did not take the stream.
inline int frozenPlayer(const std::string& sink, const char* announcement) {
  const int fd = connectToSink(sink);
  if (fd < 0) return -1;
  if (!sendFrame(fd, "TAVROHello") || readReply(fd).rfind("OK ", 0) != 0 ||
      !sendFrame(fd, announcement) || readReply(fd) != "+OK") {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace tavro::testing

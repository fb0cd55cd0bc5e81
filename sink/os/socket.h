#pragma once
// The sink's sockets, as the operating system has them: IPv4 TCP and UDP,
// every call that moves data returns at once, and every failure comes back
// as a value. Nothing above this header sees a system's socket type, its
// error numbers or its byte order.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tavro::sink::os {

#if defined(_WIN32)
using Socket = std::uintptr_t;  // Winsock's SOCKET
inline constexpr Socket kNoSocket = ~Socket{0};
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

// An IPv4 address and port, in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
};

enum class IoError {
  kNone,
  kAgain,     // nothing now: the call would have waited, or was interrupted
  kVanished,  // the peer stopped answering: timed out, unreachable
  kFailed,    // anything else: the socket is of no more use
};

// What one call moved, or why it moved nothing.
struct Io {
  int64_t bytes = 0;  // on a receive, 0 without an error: the peer closed
  IoError error = IoError::kNone;
  int code = 0;            // the system's own number for the error, for errorText
  bool truncated = false;  // receiveFrom: the datagram was larger than the room given
  bool again() const { return error == IoError::kAgain; }
  // The connection is over: closed by the peer, vanished or failed.
  bool ended() const { return error == IoError::kNone ? bytes == 0 : error != IoError::kAgain; }
};

// Once per process, before any other call here; false with the reason.
bool startSockets(std::string& error);
std::string errorText(int code);

bool parseIpv4(const std::string& text, uint32_t& address);
std::string ipv4Text(uint32_t address);
std::string endpointText(const Endpoint& endpoint);  // "192.168.1.20:50312"

// kNoSocket with the system's error in `code` when the address cannot be had.
Socket listenTcp(const Endpoint& at, int backlog, int& code);
Socket bindUdp(const Endpoint& at, int receiveBufferBytes, int& code);

struct Accepted {
  Socket socket = kNoSocket;
  Endpoint from;
  bool exhausted = false;  // out of descriptors or memory: wait before trying again
  int code = 0;
};
Accepted acceptFrom(Socket listener);

void closeSocket(Socket socket);
// Tells the peer the connection is over; the socket stays to be closed.
void shutdownBoth(Socket socket);

// Keepalive probes after `idleSeconds` idle, every `intervalSeconds`, so a
// half-open connection of a peer that vanished fails; and unacknowledged
// data gives it up after `userTimeoutMs`, where the system can tell.
void noticeVanishing(Socket socket, int idleSeconds, int intervalSeconds, int probes,
                     unsigned userTimeoutMs);
// Small writes leave at once (no Nagle).
void sendAtOnce(Socket socket);

Io receive(Socket socket, void* into, size_t room);
// Never raises SIGPIPE.
Io send(Socket socket, const void* data, size_t size);
Io receiveFrom(Socket socket, void* into, size_t room, Endpoint& from);
Io sendTo(Socket socket, const void* data, size_t size, const Endpoint& to);
// Waits as long as it takes; false once the connection refuses more.
bool sendAll(Socket socket, const uint8_t* data, size_t size);

}  // namespace tavro::sink::os

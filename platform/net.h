#pragma once
// Sockets: Winsock on Windows, BSD sockets elsewhere.
#include <cstdint>

namespace tavro::platform {

using Socket = uintptr_t;
inline constexpr Socket kInvalidSocket = ~static_cast<Socket>(0);

// Laid out as sockaddr_in: family, port and address in network byte order.
struct Ipv4Endpoint {
  uint16_t family;
  uint16_t port;
  uint32_t address;
  uint8_t zero[8];
};
static_assert(sizeof(Ipv4Endpoint) == 16);

// WSAStartup(2.2) / WSACleanup. The POSIX backend keeps the same count and,
// like Winsock, refuses to create sockets while it is zero.
int netStartup() noexcept;
void netCleanup() noexcept;

inline constexpr int32_t kSocketError = -1;  // SOCKET_ERROR

// getaddrinfo(node, service) with AI_NUMERICHOST, AF_INET, SOCK_STREAM and
// IPPROTO_TCP: a dotted address only, never a name. Fills `out` with the first
// entry's address and returns 0, or returns the lookup's error code. The
// result list never outlives the call, and nothing is freed that was not got.
int32_t lookupNumericTcp(const char* node, const char* service, Ipv4Endpoint* out) noexcept;

// socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), blocking; kInvalidSocket on failure.
Socket openTcpSocket() noexcept;

// setsockopt(IPPROTO_TCP, TCP_NODELAY) to 1. Returns 0 or kSocketError.
int32_t setNoDelay(Socket socket) noexcept;

// WSAIoctl(SIO_LOOPBACK_FAST_PATH) with a one-byte 1. Linux has no such
// switch (its loopback is already short), so there it succeeds doing nothing.
int32_t enableLoopbackFastPath(Socket socket) noexcept;

// connect; returns 0 or kSocketError. Blocks without a time-out.
int32_t connectTo(Socket socket, const Ipv4Endpoint& peer) noexcept;

// send(socket, data, length, 0): the count sent or kSocketError. A peer that
// has gone away gives kSocketError, never a signal.
int32_t sendBytes(Socket socket, const void* data, int32_t length) noexcept;

// recv(socket, buffer, length, 0): the count received, 0 when the peer closed,
// or kSocketError. Blocks without a time-out.
int32_t receiveBytes(Socket socket, void* buffer, int32_t length) noexcept;

// Waits until `socket` has something to read (data, or the peer's close):
// select on Windows, poll elsewhere. 1 when readable, 0 when `timeoutMs`
// passed first, kSocketError on failure.
int32_t waitReadable(Socket socket, uint32_t timeoutMs) noexcept;

// This PC's own name: gethostbyname("") and its official name on Windows,
// gethostname elsewhere. False when there is none or it does not fit.
bool localHostName(char* name, uint32_t size) noexcept;

// The first IPv4 address of `name` as dotted text (inet_ntoa): gethostbyname
// on Windows, getaddrinfo(AF_INET) elsewhere. `text` holds at least 16 bytes.
// False when the name does not resolve or has no IPv4 address.
bool firstIpv4Address(const char* name, char* text, uint32_t size) noexcept;

// Ends a receive another thread is blocked in on `socket`, which stays open:
// CancelIoEx on Windows, where a shut-down socket need not end it; on Linux
// shutdown does, so it is asked again.
void cancelBlockedReceive(Socket socket) noexcept;

// shutdown(SD_BOTH) and closesocket; errors ignored.
void shutdownBoth(Socket socket) noexcept;
void closeSocket(Socket socket) noexcept;

// ---- UDP ---------------------------------------------------------------------

// WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, no protocol info, group 0) with
// WSA_FLAG_REGISTERED_IO when `registeredIo`, else WSA_FLAG_OVERLAPPED. The
// socket blocks; kInvalidSocket on failure.
Socket openUdpSocket(bool registeredIo) noexcept;

// bind; returns 0 or kSocketError.
int32_t bindTo(Socket socket, const Ipv4Endpoint& local) noexcept;

// getsockname: the address and port the socket is bound to. 0 or kSocketError.
int32_t boundEndpoint(Socket socket, Ipv4Endpoint* out) noexcept;

// As lookupNumericTcp, with SOCK_DGRAM and IPPROTO_UDP.
int32_t lookupNumericUdp(const char* node, const char* service, Ipv4Endpoint* out) noexcept;

// sendto(socket, data, length, 0, peer, 16): the count sent or kSocketError.
int32_t sendDatagram(Socket socket, const void* data, int32_t length,
                     const Ipv4Endpoint& peer) noexcept;

// recvfrom(socket, buffer, length, 0, NULL, NULL): the datagram's length (cut
// to `length`), or kSocketError. Blocks without a time-out. A datagram longer
// than the buffer counts with the length received, not as an error.
int32_t receiveDatagram(Socket socket, void* buffer, int32_t length) noexcept;

}  // namespace tavro::platform

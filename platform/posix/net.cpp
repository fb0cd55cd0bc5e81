#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/address_list.h"
#include "platform/fault.h"
#include "platform/open_counts.h"
#include "platform/posix/net_state.h"

namespace tavro::platform {

std::atomic<int> netUsers{0};

namespace {

constexpr int32_t kWsaNotInitialised = 10093;  // WSANOTINITIALISED
constexpr int32_t kWsaHostNotFound = 11001;    // WSAHOST_NOT_FOUND

int fd(Socket socket) noexcept { return static_cast<int>(socket); }

bool started() noexcept { return netUsers.load(std::memory_order_acquire) > 0; }

}  // namespace

int netStartup() noexcept {
  if (injected(Call::WSAStartup)) return 10091;  // WSASYSNOTREADY
  netUsers.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

void netCleanup() noexcept {
  if (injected(Call::WSACleanup)) return;
  int users = netUsers.load(std::memory_order_acquire);
  while (users > 0 && !netUsers.compare_exchange_weak(users, users - 1)) {
  }
}

namespace {

int32_t lookupNumeric(const char* node, const char* service, int type, int protocol,
                      Ipv4Endpoint* out) noexcept {
  if (injected(Call::getaddrinfo)) return kWsaHostNotFound;
  if (!started()) return kWsaNotInitialised;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = AF_INET;
  hints.ai_socktype = type;
  hints.ai_protocol = protocol;
  AddressList list;
  const int result = ::getaddrinfo(node, service, &hints, list.out());
  if (result != 0) return kWsaHostNotFound;
  const addrinfo* entry = list.first();
  if (entry == nullptr || entry->ai_addrlen < sizeof(sockaddr_in)) return kWsaHostNotFound;
  std::memcpy(out, entry->ai_addr, sizeof(Ipv4Endpoint));
  out->family = AF_INET;  // Linux's sockaddr_in family is host order, like Windows'
  return 0;
}

}  // namespace

int32_t lookupNumericTcp(const char* node, const char* service, Ipv4Endpoint* out) noexcept {
  return lookupNumeric(node, service, SOCK_STREAM, IPPROTO_TCP, out);
}

int32_t lookupNumericUdp(const char* node, const char* service, Ipv4Endpoint* out) noexcept {
  return lookupNumeric(node, service, SOCK_DGRAM, IPPROTO_UDP, out);
}

Socket openTcpSocket() noexcept {
  if (injected(Call::socket)) return kInvalidSocket;
  if (!started()) return kInvalidSocket;
  const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (handle < 0) return kInvalidSocket;
  countOpened(Resource::kSocket);
  return static_cast<Socket>(handle);
}

int32_t setNoDelay(Socket socket) noexcept {
  if (injected(Call::setsockopt)) return kSocketError;
  // Winsock takes the one-byte value the driver passes; Linux insists on an int.
  const int on = 1;
  return ::setsockopt(fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 ? 0 : kSocketError;
}

int32_t enableLoopbackFastPath(Socket /*socket*/) noexcept {
  if (injected(Call::WSAIoctl)) return kSocketError;
  return 0;
}

int32_t connectTo(Socket socket, const Ipv4Endpoint& peer) noexcept {
  if (injected(Call::connect)) return kSocketError;
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  address.sin_family = AF_INET;
  return ::connect(fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
             ? 0
             : kSocketError;
}

int32_t sendBytes(Socket socket, const void* data, int32_t length) noexcept {
  if (injected(Call::send)) return kSocketError;
  if (length < 0) return kSocketError;
  // MSG_NOSIGNAL: a streamer that went away must fail the send, as on
  // Windows, instead of killing the host with SIGPIPE.
  ssize_t sent = 0;
  // A signal the host's process takes is no failure of the connection:
  // Winsock never reports one, so neither may this.
  do {
    sent = ::send(fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? kSocketError : static_cast<int32_t>(sent);
}

int32_t receiveBytes(Socket socket, void* buffer, int32_t length) noexcept {
  if (injected(Call::recv)) return kSocketError;
  if (length < 0) return kSocketError;
  ssize_t received = 0;
  do {
    received = ::recv(fd(socket), buffer, static_cast<size_t>(length), 0);
  } while (received < 0 && errno == EINTR);
  return received < 0 ? kSocketError : static_cast<int32_t>(received);
}

int32_t waitReadable(Socket socket, uint32_t timeoutMs) noexcept {
  if (injected(Call::select)) return kSocketError;
  pollfd watched{fd(socket), POLLIN, 0};
  const int limit =
      timeoutMs > INT32_MAX ? static_cast<int>(INT32_MAX) : static_cast<int>(timeoutMs);
  int ready = 0;
  do {
    ready = ::poll(&watched, 1, limit);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return kSocketError;
  return ready > 0 ? 1 : 0;
}

bool localHostName(char* name, uint32_t size) noexcept {
  if (injected(Call::gethostbyname)) return false;
  if (size == 0) return false;
  if (::gethostname(name, size) != 0) return false;
  name[size - 1] = '\0';
  return name[0] != '\0';
}

bool firstIpv4Address(const char* name, char* text, uint32_t size) noexcept {
  if (injected(Call::gethostbyname)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  AddressList list;
  if (::getaddrinfo(name, nullptr, &hints, list.out()) != 0) return false;
  const addrinfo* entry = list.first();
  if (entry == nullptr || entry->ai_family != AF_INET) return false;
  const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
  return ::inet_ntop(AF_INET, &address->sin_addr, text, size) != nullptr;
}

void shutdownBoth(Socket socket) noexcept {
  if (injected(Call::shutdown)) return;
  ::shutdown(fd(socket), SHUT_RDWR);
}

void cancelBlockedReceive(Socket socket) noexcept {
  if (injected(Call::CancelIoEx)) return;
  ::shutdown(fd(socket), SHUT_RDWR);
}

void closeSocket(Socket socket) noexcept {
  if (injected(Call::closesocket)) return;
  if (::close(fd(socket)) == 0) countClosed(Resource::kSocket);
}

}  // namespace tavro::platform

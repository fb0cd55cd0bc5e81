#include "sink/os/waker.h"

#include <winsock2.h>

#include <cstdint>
#include <string>

namespace tavro::sink::os {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// A UDP socket on the loopback address, on a port the system picks, that
// never waits.
SOCKET loopbackUdp(sockaddr_in& bound) {
  const SOCKET socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                     WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) return socket;
  bound = {};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(kLoopback);
  int size = sizeof bound;
  u_long on = 1;
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
      ::ioctlsocket(socket, FIONBIO, &on) != 0) {
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  return socket;
}

}  // namespace

bool Waker::open(int& code) {
  close();
  std::string error;
  if (!startSockets(error)) {
    code = WSANOTINITIALISED;
    return false;
  }
  sockaddr_in watchedAt{};
  sockaddr_in pokeAt{};
  watched_ = loopbackUdp(watchedAt);
  poke_ = loopbackUdp(pokeAt);
  // Connected both ways: each takes datagrams from the other alone.
  if (watched_ == kNoSocket || poke_ == kNoSocket ||
      ::connect(poke_, reinterpret_cast<const sockaddr*>(&watchedAt), sizeof watchedAt) != 0 ||
      ::connect(watched_, reinterpret_cast<const sockaddr*>(&pokeAt), sizeof pokeAt) != 0) {
    code = ::WSAGetLastError();
    close();
    return false;
  }
  return true;
}

void Waker::close() {
  closeSocket(watched_);
  closeSocket(poke_);
  watched_ = poke_ = kNoSocket;
}

void Waker::wake() {
  const char byte = 0;
  // A full buffer is readable already.
  ::send(poke_, &byte, 1, 0);
}

void Waker::drain() {
  char scrap[64];
  while (::recv(watched_, scrap, sizeof scrap, 0) > 0) {
  }
}

}  // namespace tavro::sink::os

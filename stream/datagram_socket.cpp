#include "stream/internal/datagram_socket.h"

#include <atomic>

namespace tavro::stream {
namespace {

std::atomic<int64_t> openSockets{0};

}  // namespace

int64_t openDataSockets() noexcept { return openSockets.load(); }

DatagramSocket::DatagramSocket(bool registeredIo) noexcept
    : socket_(platform::openUdpSocket(registeredIo)) {
  if (socket_ != platform::kInvalidSocket) openSockets.fetch_add(1);
}

void DatagramSocket::close() noexcept {
  if (socket_ == platform::kInvalidSocket) return;
  platform::shutdownBoth(socket_);
  platform::closeSocket(socket_);
  socket_ = platform::kInvalidSocket;
  openSockets.fetch_sub(1);
}

}  // namespace tavro::stream

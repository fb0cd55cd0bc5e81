#pragma once
// The data socket of a UDP transport, shut down and closed when it goes.
#include <cstdint>

#include "platform/net.h"
#include "stream/data_transport.h"

namespace tavro::stream {

class DatagramSocket {
 public:
  explicit DatagramSocket(bool registeredIo) noexcept;
  ~DatagramSocket() { close(); }
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;

  bool valid() const noexcept { return socket_ != platform::kInvalidSocket; }
  platform::Socket get() const noexcept { return socket_; }

  // Early, where what was built on the socket must go after it.
  void close() noexcept;

 private:
  platform::Socket socket_;
};

}  // namespace tavro::stream

#pragma once
// The streamer's side of the data transport, for tests: a UDP socket on the
// streamer's address and port that records every datagram as it arrives,
// and a TCP listener standing in for the control connection. Real sockets
// (BSD or Winsock); bytes are checked where they arrive.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavro::testing {

using Bytes = std::vector<uint8_t>;

class DataPeer {
 public:
  DataPeer();
  ~DataPeer();
  DataPeer(const DataPeer&) = delete;
  DataPeer& operator=(const DataPeer&) = delete;

  // Binds UDP (and listens on TCP) at address:port. False with a reason;
  // then it may be started again at another address.
  bool start(const std::string& address, uint16_t port, std::string* error);

  // Waits until `count` datagrams have arrived in all; false on time-out.
  bool waitForDatagrams(size_t count, std::chrono::milliseconds limit);
  std::vector<Bytes> datagrams();
  // No datagram beyond those already seen arrives within `quiet`.
  bool noMoreDatagramsWithin(std::chrono::milliseconds quiet);

  // A datagram back to where the last one came from, as the streamer sends
  // its ticks.
  bool sendToLastSender(const Bytes& bytes);

  // TCP: accepts one connection (after the driver connected), reads exactly
  // `count` bytes, sends bytes.
  bool acceptConnection(std::chrono::milliseconds limit);
  bool readStream(size_t count, Bytes* out, std::chrono::milliseconds limit);
  bool sendStream(const Bytes& bytes);
  // True when nothing arrives on the stream within `quiet`.
  bool streamQuietFor(std::chrono::milliseconds quiet);

 private:
  void receiveLoop();

  uintptr_t udp_;
  uintptr_t listener_;
  uintptr_t connection_;
  std::thread receiver_;
  bool running_ = false;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Bytes> datagrams_;
  uint8_t lastSender_[16] = {};
  bool haveSender_ = false;
};

}  // namespace tavro::testing

#include "support/data_peer.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
using AddressLength = int;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
void closeNative(NativeSocket socket) { closesocket(socket); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
using AddressLength = socklen_t;
constexpr NativeSocket kNoSocket = -1;
void closeNative(NativeSocket socket) { close(socket); }
#endif

#include <cstring>

namespace tavro::testing {
namespace {

constexpr size_t kLargestDatagram = 65536;

NativeSocket native(uintptr_t socket) { return static_cast<NativeSocket>(socket); }
uintptr_t stored(NativeSocket socket) { return static_cast<uintptr_t>(socket); }

// Readable within `limit`?
bool readable(NativeSocket socket, std::chrono::milliseconds limit) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait{static_cast<long>(limit.count() / 1000),
               static_cast<long>((limit.count() % 1000) * 1000)};
  return select(static_cast<int>(socket) + 1, &set, nullptr, nullptr, &wait) == 1;
}

// Room for a packet's datagrams sent back to back before the thread reads.
void enlargeReceiveBuffer(NativeSocket socket) {
  int size = 8 << 20;
#if defined(SO_RCVBUFFORCE)
  if (setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, reinterpret_cast<const char*>(&size),
                 sizeof size) == 0) {
    return;
  }
#endif
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

}  // namespace

DataPeer::DataPeer()
    : udp_(stored(kNoSocket)), listener_(stored(kNoSocket)), connection_(stored(kNoSocket)) {
#if defined(_WIN32)
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#endif
}

DataPeer::~DataPeer() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    running_ = false;
  }
  if (receiver_.joinable()) receiver_.join();
  for (uintptr_t socket : {udp_, listener_, connection_}) {
    if (native(socket) != kNoSocket) closeNative(native(socket));
  }
#if defined(_WIN32)
  WSACleanup();
#endif
}

bool DataPeer::start(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    *error = "not an address: " + address;
    return false;
  }
  const NativeSocket udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const NativeSocket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  udp_ = stored(udp);
  listener_ = stored(listener);
  if (udp == kNoSocket || listener == kNoSocket) {
    *error = "no socket";
    return false;
  }
#if !defined(_WIN32)
  // A listener that a test before this one in the process has closed may
  // still hold the address in TIME_WAIT.
  const int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
#endif
  enlargeReceiveBuffer(udp);
  if (bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener, 1) != 0) {
    *error = "cannot bind " + address;
    // Closed, so that the peer can try another address.
    closeNative(udp);
    closeNative(listener);
    udp_ = listener_ = stored(kNoSocket);
    return false;
  }
  running_ = true;
  receiver_ = std::thread([this] { receiveLoop(); });
  return true;
}

void DataPeer::receiveLoop() {
  std::vector<char> buffer(kLargestDatagram);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!running_) return;
    }
    if (!readable(native(udp_), std::chrono::milliseconds(20))) continue;
    sockaddr_in from{};
    AddressLength length = sizeof from;
    const auto received = recvfrom(native(udp_), buffer.data(), static_cast<int>(buffer.size()), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (received < 0) continue;
    std::lock_guard<std::mutex> hold(lock_);
    datagrams_.emplace_back(buffer.begin(), buffer.begin() + received);
    std::memcpy(lastSender_, &from, sizeof from);
    haveSender_ = true;
    arrived_.notify_all();
  }
}

bool DataPeer::waitForDatagrams(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return arrived_.wait_for(hold, limit, [&] { return datagrams_.size() >= count; });
}

std::vector<Bytes> DataPeer::datagrams() {
  std::lock_guard<std::mutex> hold(lock_);
  return datagrams_;
}

bool DataPeer::noMoreDatagramsWithin(std::chrono::milliseconds quiet) {
  std::unique_lock<std::mutex> hold(lock_);
  const size_t seen = datagrams_.size();
  return !arrived_.wait_for(hold, quiet, [&] { return datagrams_.size() > seen; });
}

bool DataPeer::sendToLastSender(const Bytes& bytes) {
  sockaddr_in to{};
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!haveSender_) return false;
    std::memcpy(&to, lastSender_, sizeof to);
  }
  const auto sent =
      sendto(native(udp_), reinterpret_cast<const char*>(bytes.data()),
             static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return sent >= 0 && static_cast<size_t>(sent) == bytes.size();
}

bool DataPeer::acceptConnection(std::chrono::milliseconds limit) {
  if (!readable(native(listener_), limit)) return false;
  const NativeSocket accepted = accept(native(listener_), nullptr, nullptr);
  connection_ = stored(accepted);
  return accepted != kNoSocket;
}

bool DataPeer::readStream(size_t count, Bytes* out, std::chrono::milliseconds limit) {
  out->assign(count, 0);
  size_t have = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (have < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readable(native(connection_), left)) return false;
    const auto received = recv(native(connection_), reinterpret_cast<char*>(out->data() + have),
                               static_cast<int>(count - have), 0);
    if (received <= 0) return false;
    have += static_cast<size_t>(received);
  }
  return true;
}

bool DataPeer::sendStream(const Bytes& bytes) {
  const auto sent = send(native(connection_), reinterpret_cast<const char*>(bytes.data()),
                         static_cast<int>(bytes.size()), 0);
  return sent >= 0 && static_cast<size_t>(sent) == bytes.size();
}

bool DataPeer::streamQuietFor(std::chrono::milliseconds quiet) {
  return !readable(native(connection_), quiet);
}

}  // namespace tavro::testing

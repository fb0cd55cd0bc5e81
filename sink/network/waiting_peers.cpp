#include "sink/network/waiting_peers.h"

#include <algorithm>
#include <climits>

namespace tavro::sink {
namespace {

constexpr int64_t kNoDeadline = INT64_MAX;

}  // namespace

WaitingPeers::~WaitingPeers() { closeAll(); }

std::string WaitingPeers::add(os::Socket fd, std::string from, std::string address, int64_t nowNs) {
  std::string evicted;
  if (peers_.size() >= most_ && !peers_.empty()) {
    auto oldest =
        std::find_if(peers_.begin(), peers_.end(), [](const auto& peer) { return !peer->greeted; });
    if (oldest == peers_.end()) oldest = peers_.begin();
    evicted = (*oldest)->from;
    os::closeSocket((*oldest)->fd);
    peers_.erase(oldest);
  }
  auto peer = std::make_unique<WaitingPeer>();
  peer->fd = fd;
  peer->from = std::move(from);
  peer->address = std::move(address);
  peer->deadlineNs = nowNs + limitNs_;
  peers_.push_back(std::move(peer));
  return evicted;
}

WaitingPeer* WaitingPeers::find(os::Socket fd) {
  for (const auto& peer : peers_) {
    if (peer->fd == fd) return peer.get();
  }
  return nullptr;
}

WaitingPeers::Read WaitingPeers::read(WaitingPeer& peer, int64_t nowNs) {
  const os::Io got = os::receive(peer.fd, peer.frame + peer.bytes, kFrameBytes - peer.bytes);
  if (got.again()) return Read::kPartial;
  if (got.ended()) return Read::kClosed;
  // A frame has its time from its first byte; before the greeting, from
  // the connection.
  if (peer.bytes == 0 && peer.greeted) peer.deadlineNs = nowNs + limitNs_;
  peer.bytes += static_cast<size_t>(got.bytes);
  return peer.bytes == kFrameBytes ? Read::kFrame : Read::kPartial;
}

void WaitingPeers::restart(WaitingPeer& peer, int64_t nowNs) {
  peer.bytes = 0;
  peer.deadlineNs = peer.greeted ? kNoDeadline : nowNs + limitNs_;
}

void WaitingPeers::remove(os::Socket fd, bool keepOpen) {
  const auto at =
      std::find_if(peers_.begin(), peers_.end(), [&](const auto& peer) { return peer->fd == fd; });
  if (at == peers_.end()) return;
  if (!keepOpen) os::closeSocket(fd);
  peers_.erase(at);
}

std::vector<std::string> WaitingPeers::dropOverdue(int64_t nowNs) {
  std::vector<std::string> lines;
  for (auto at = peers_.begin(); at != peers_.end();) {
    const WaitingPeer& peer = **at;
    if (peer.deadlineNs > nowNs) {
      ++at;
      continue;
    }
    const std::string limit = limitNs_ % 1'000'000'000 == 0
                                  ? std::to_string(limitNs_ / 1'000'000'000) + " s"
                                  : std::to_string(limitNs_ / 1'000'000) + " ms";
    lines.push_back("dropping " + peer.from + ": " +
                    (peer.bytes == 0 ? "no greeting within " + limit
                                     : "half a frame (" + std::to_string(peer.bytes) + " of " +
                                           std::to_string(kFrameBytes) + " bytes) in " + limit));
    os::closeSocket(peer.fd);
    at = peers_.erase(at);
  }
  return lines;
}

int64_t WaitingPeers::nsUntilNextDeadline(int64_t nowNs) const {
  int64_t next = kNoDeadline;
  for (const auto& peer : peers_) next = std::min(next, peer->deadlineNs);
  if (next == kNoDeadline) return -1;
  return next <= nowNs ? 0 : next - nowNs;
}

std::vector<os::Socket> WaitingPeers::fds() const {
  std::vector<os::Socket> out;
  out.reserve(peers_.size());
  for (const auto& peer : peers_) out.push_back(peer->fd);
  return out;
}

void WaitingPeers::closeAll() {
  for (const auto& peer : peers_) os::closeSocket(peer->fd);
  peers_.clear();
}

}  // namespace tavro::sink

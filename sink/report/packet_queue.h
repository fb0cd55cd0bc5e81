#pragma once
// Hands complete packets from the receiving thread to the thread that checks
// and writes them, and the buffers back again, so the receiver never waits on
// the disk.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tavro::sink {

struct Packet {
  uint64_t index = 0;  // 0 for the packet the driver sends before any tick
  std::vector<uint8_t> bytes;
};

class PacketQueue {
 public:
  explicit PacketQueue(size_t packetBytes) : packetBytes_(packetBytes) {}

  // A buffer of packetBytes, reused when the consumer has returned one.
  std::unique_ptr<Packet> take() {
    {
      std::lock_guard guard(lock_);
      if (!free_.empty()) {
        auto packet = std::move(free_.back());
        free_.pop_back();
        return packet;
      }
    }
    auto packet = std::make_unique<Packet>();
    packet->bytes.resize(packetBytes_);
    return packet;
  }

  void push(std::unique_ptr<Packet> packet) {
    {
      std::lock_guard guard(lock_);
      full_.push_back(std::move(packet));
    }
    ready_.notify_one();
  }

  // No more packets: pop() returns null once the queue is empty.
  void close() {
    {
      std::lock_guard guard(lock_);
      closed_ = true;
    }
    ready_.notify_one();
  }

  std::unique_ptr<Packet> pop() {
    std::unique_lock guard(lock_);
    ready_.wait(guard, [&] { return !full_.empty() || closed_; });
    if (full_.empty()) return nullptr;
    auto packet = std::move(full_.front());
    full_.pop_front();
    return packet;
  }

  void recycle(std::unique_ptr<Packet> packet) {
    std::lock_guard guard(lock_);
    free_.push_back(std::move(packet));
  }

 private:
  const size_t packetBytes_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::unique_ptr<Packet>> full_;
  std::vector<std::unique_ptr<Packet>> free_;
  bool closed_ = false;
};

}  // namespace tavro::sink

#include "sink/report/packet_consumer.h"

#include <cerrno>
#include <cstring>

namespace tavro::sink {

PacketConsumer::PacketConsumer(ConsumerSetup setup) : setup_(std::move(setup)) {}

void PacketConsumer::begin(const Packet& first) {
  StreamFormat& format = setup_.format;
  if (format.bits == 24) {
    const bool dop =
        setup_.dop == DopMode::kOn || (setup_.dop == DopMode::kAuto && dopPossible(format) &&
                                       looksLikeDop(first.bytes.data(), format.packetBytes));
    if (dop) format.layout = Layout::kDop;
  }
  inspector_.emplace(format, setup_.verify, setup_.shift);
  if (!setup_.outputDir.empty()) openFile();
}

void PacketConsumer::openFile() {
  const StreamFormat& format = setup_.format;
  std::string name = setup_.outputDir + "/stream-" + std::to_string(setup_.stream) + "-";
  if (format.layout == Layout::kDop) {
    name += "dsd" + std::to_string(format.dsdRate()) + ".dsf";
    writing_ = dsf_.open(name, format.dsdRate());
    left_.resize(format.packetFrames * 2);
    right_.resize(format.packetFrames * 2);
  } else {
    name += std::string(layoutName(format.layout)) + "-" + std::to_string(format.rate) + ".wav";
    writing_ = wav_.open(name, format.rate, format.bits);
  }
  if (writing_) {
    file_ = name;
  } else {
    fileError_ = "cannot write " + name + ": " + std::strerror(errno);
  }
}

void PacketConsumer::write(const Packet& packet) {
  const uint8_t* bytes = packet.bytes.data();
  if (setup_.format.layout != Layout::kDop) {
    if (!wav_.append(bytes, setup_.format.packetBytes)) {
      writing_ = false;
      fileError_ = wav_.full() ? file_ + " is full (4 GiB); the rest is not written"
                               : "writing " + file_ + " failed";
    }
    return;
  }
  // Each DoP sample: low byte, middle byte, marker; the middle byte is earlier.
  for (uint32_t frame = 0; frame < setup_.format.packetFrames; ++frame) {
    const uint8_t* at = bytes + 6 * frame;
    left_[2 * frame] = at[1];
    left_[2 * frame + 1] = at[0];
    right_[2 * frame] = at[4];
    right_[2 * frame + 1] = at[3];
  }
  if (!dsf_.append(left_.data(), right_.data(), left_.size())) {
    writing_ = false;
    fileError_ = "writing " + file_ + " failed";
  }
}

void PacketConsumer::run(PacketQueue& queue) {
  while (auto packet = queue.pop()) {
    if (!inspector_) begin(*packet);
    inspector_->inspect(packet->index, packet->bytes.data());
    if (writing_) write(*packet);
    queue.recycle(std::move(packet));
  }
  const bool closed = setup_.format.layout == Layout::kDop ? dsf_.close() : wav_.close();
  if (!closed && fileError_.empty() && !file_.empty()) fileError_ = "closing " + file_ + " failed";
}

}  // namespace tavro::sink

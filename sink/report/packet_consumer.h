#pragma once
// The thread behind the receiver: decides DoP from the first packet, checks
// every packet and writes the file, so that none of that slows the receiving.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sink/format/stream_format.h"
#include "sink/report/dsf_writer.h"
#include "sink/report/packet_inspector.h"
#include "sink/report/packet_queue.h"
#include "sink/report/wav_writer.h"

namespace tavro::sink {

struct ConsumerSetup {
  StreamFormat format;
  DopMode dop = DopMode::kAuto;
  bool verify = false;
  uint32_t shift = 0;
  std::string outputDir;  // empty: no file
  int stream = 1;         // names the file
};

class PacketConsumer {
 public:
  explicit PacketConsumer(ConsumerSetup setup);

  // Takes packets until the queue is closed, then closes the file.
  void run(PacketQueue& queue);

  // After run: the layout as decided, the checks and the file.
  Layout layout() const { return setup_.format.layout; }
  const PacketInspector* inspector() const { return inspector_ ? &*inspector_ : nullptr; }
  const std::string& file() const { return file_; }
  const std::string& fileError() const { return fileError_; }

 private:
  void begin(const Packet& first);
  void openFile();
  void write(const Packet& packet);

  ConsumerSetup setup_;
  std::optional<PacketInspector> inspector_;
  WavWriter wav_;
  DsfWriter dsf_;
  bool writing_ = false;
  std::vector<uint8_t> left_, right_;
  std::string file_;
  std::string fileError_;
};

}  // namespace tavro::sink

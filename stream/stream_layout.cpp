#include "stream/stream_layout.h"

#include "control/streamer_settings.h"
#include "stream/dsd_rates.h"
#include "stream/packing.h"

namespace tavro::stream {
namespace {

int32_t announcedRate(double sampleRate) noexcept {
  if (!stream::isDsdStream(sampleRate)) return static_cast<int32_t>(sampleRate);
  // DoP carries 16 one-bit samples per channel in each 24-bit frame.
  if (sampleRate == 22579200.0) return 1411200;
  if (sampleRate == 11289600.0) return 705600;
  if (sampleRate == 2822400.0) return 176400;
  return 352800;
}

uint32_t datagramSizeFor(uint32_t packetBytes, uint32_t transportMode) noexcept {
  if (transportMode != control::kTransportUdp || packetBytes <= kLargestDatagram) {
    return packetBytes;
  }
  for (uint32_t size : {49152u, 40960u, 24576u}) {
    if (packetBytes % size == 0) return size;
  }
  return 32768;
}

}  // namespace

StreamLayout streamLayout(const StreamLayoutInput& input) noexcept {
  StreamLayout layout{};
  // Packing knows three sample widths and packs any other in 24 bits; the
  // packet size and the announcement must say what packing writes, or a
  // streamer's odd word length would size a packet smaller than its data.
  layout.wireBits = input.wordLength == 16 || input.wordLength == 32
                        ? static_cast<int32_t>(input.wordLength)
                        : 24;
  if (layout.wireBits == 16 && (input.sampleRate > 50000.0 || input.sampleShift != 0)) {
    layout.wireBits = 24;  // 16 bits would lose what the shift or the rate adds
  }
  if (stream::isDsdStream(input.sampleRate)) layout.wireBits = 24;
  layout.announcedRate = announcedRate(input.sampleRate);
  layout.packetSizeNumber =
      stream::hasDsdBuffers(input.sampleRate) ? (input.bufferFrames / 32) * 2 : input.bufferFrames;
  // Sized by what packing writes, so the two can never disagree.
  layout.packetBytes =
      packetBytes(wireLayout(layout.wireBits, input.sampleRate), input.bufferFrames);
  layout.datagramSize = datagramSizeFor(layout.packetBytes, input.transportMode);
  layout.datagramsPerBuffer =
      layout.datagramSize == 0 ? 0 : layout.packetBytes / layout.datagramSize;
  return layout;
}

StreamConfig streamConfig(const control::StreamerSettings& settings, double sampleRate,
                          int32_t bufferFrames, int32_t wireBits) noexcept {
  StreamConfig config;
  config.bufferFrames = bufferFrames;
  config.framesPerHalf = stream::framesPerHalf(bufferFrames, sampleRate);
  config.layout = wireLayout(wireBits, sampleRate);
  config.adjust = pcmAdjust(sampleRate, settings.sampleShift, settings.invertPolarity);
  config.transportMode = settings.transportMode;
  config.driveMode = settings.driveMode;
  return config;
}

}  // namespace tavro::stream

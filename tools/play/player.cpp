#include "play/player.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tavro::play {
namespace {

// ASIO callbacks carry no context: one stream at a time per host process.
struct Stream {
  AudioSource* source = nullptr;
  void* buffers[2][2] = {};
  int32_t wordsPerHalf = 0;
  std::atomic<int64_t> halves{0};
};
Stream* current = nullptr;

void TAVRO_CDECL onBufferSwitch(int32_t half, asio::AsioBool /*direct*/) {
  Stream* stream = current;
  if (stream == nullptr || half < 0 || half > 1) return;
  stream->source->fill(static_cast<uint32_t*>(stream->buffers[0][half]),
                       static_cast<uint32_t*>(stream->buffers[1][half]), stream->wordsPerHalf);
  stream->halves.fetch_add(1, std::memory_order_release);
}

void TAVRO_CDECL onRateChange(asio::AsioSampleRate) {}

std::string driverError(asio::IAsio& driver) {
  char text[128] = {};
  driver.getErrorMessage(text);
  return text;
}

}  // namespace

PlayResult play(asio::IAsio& driver, AudioSource& source, double rate, double seconds,
                int64_t maxHalves) {
  using namespace std::chrono;
  PlayResult result;
  if (driver.setSampleRate(rate) != asio::kAseOk) {
    result.error = "the driver refused the rate";
    return result;
  }
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  driver.getBufferSize(&minSize, &maxSize, &preferred, &granularity);
  result.bufferFrames = preferred;

  Stream stream;
  stream.source = &source;
  // DSD buffers carry 32 one-bit samples per word.
  stream.wordsPerHalf = source.isDsd() ? preferred / 32 : preferred;
  asio::AsioCallbacks callbacks{&onBufferSwitch, &onRateChange, nullptr, nullptr};
  asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
  const asio::AsioError created = driver.createBuffers(infos, 2, preferred, &callbacks);
  if (created != asio::kAseOk) {
    result.error = "createBuffers failed (" + std::to_string(created) + ")";
    return result;
  }
  for (int c = 0; c < 2; ++c) {
    stream.buffers[c][0] = infos[c].buffers[0];
    stream.buffers[c][1] = infos[c].buffers[1];
  }
  current = &stream;

  if (driver.start() != asio::kAseOk) {
    result.error = driverError(driver);
    current = nullptr;
    driver.disposeBuffers();
    return result;
  }
  result.started = true;
  const auto end = steady_clock::now() + duration<double>(seconds);
  // A driver that has asked for nothing for two seconds has lost its streamer.
  const auto stallLimit = std::chrono::seconds(2);
  int64_t seen = 0;
  auto lastProgress = steady_clock::now();
  while (steady_clock::now() < end && !source.finished()) {
    std::this_thread::sleep_for(milliseconds(maxHalves > 0 ? 1 : 20));
    const int64_t now = stream.halves.load(std::memory_order_acquire);
    if (maxHalves > 0 && now >= maxHalves) break;
    if (now != seen) {
      seen = now;
      lastProgress = steady_clock::now();
    } else if (steady_clock::now() - lastProgress > stallLimit) {
      result.stalled = true;
      break;
    }
  }
  driver.stop();
  result.halves = stream.halves.load();
  asio::AsioSamples position{};
  asio::AsioTimeStamp stamp{};
  if (driver.getSamplePosition(&position, &stamp) == asio::kAseOk) {
    result.samplePosition =
        static_cast<double>(static_cast<uint64_t>(position.hi) << 32 | position.lo);
  }
  current = nullptr;
  driver.disposeBuffers();
  if (result.stalled) result.error = driverError(driver);
  return result;
}

}  // namespace tavro::play

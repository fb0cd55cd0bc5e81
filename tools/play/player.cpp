#include "play/player.h"

#include <algorithm>
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
  // Made before the stream starts: the driver's thread only writes into it.
  std::vector<int64_t>* switchEndsNs = nullptr;
};
Stream* current = nullptr;

void TAVRO_CDECL onBufferSwitch(int32_t half, asio::AsioBool /*direct*/) {
  Stream* stream = current;
  if (stream == nullptr || half < 0 || half > 1) return;
  stream->source->fill(static_cast<uint32_t*>(stream->buffers[0][half]),
                       static_cast<uint32_t*>(stream->buffers[1][half]), stream->wordsPerHalf);
  const int64_t played = stream->halves.load(std::memory_order_relaxed);
  if (stream->switchEndsNs != nullptr &&
      static_cast<size_t>(played) < stream->switchEndsNs->size()) {
    (*stream->switchEndsNs)[static_cast<size_t>(played)] =
        std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
            .count();
  }
  stream->halves.fetch_add(1, std::memory_order_release);
}

void TAVRO_CDECL onRateChange(asio::AsioSampleRate) {}

std::string driverError(asio::IAsio& driver) {
  char text[128] = {};
  driver.getErrorMessage(text);
  return text;
}

}  // namespace

static PlayResult playStream(asio::IAsio& driver, AudioSource& source, double rate,
                             double seconds, int64_t maxHalves,
                             std::vector<int64_t>* switchEndsNs) {
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
  if (switchEndsNs != nullptr && preferred > 0) {
    // Room for every half the time allows, and some: the pace is the streamer's.
    switchEndsNs->assign(static_cast<size_t>(seconds * rate / preferred * 1.1) + 64, 0);
    stream.switchEndsNs = switchEndsNs;
  }
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
  if (switchEndsNs != nullptr) {
    switchEndsNs->resize(std::min(switchEndsNs->size(), static_cast<size_t>(result.halves)));
  }
  return result;
}

PlayResult play(asio::IAsio& driver, AudioSource& source, double rate, double seconds,
                int64_t maxHalves) {
  return playStream(driver, source, rate, seconds, maxHalves, nullptr);
}

PlayResult play(asio::IAsio& driver, AudioSource& source, double rate, double seconds,
                std::vector<int64_t>& switchEndsNs) {
  return playStream(driver, source, rate, seconds, 0, &switchEndsNs);
}

}  // namespace tavro::play

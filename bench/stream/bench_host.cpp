// tavro-bench-host: an ASIO host for the stream benchmarks. It creates the
// driver in its own process (so that the wire can be chosen as the tests
// choose it), fills every half from memory, plays to tavro-sink and prints
// the CPU time the whole process spent per second of audio.
//
//   tavro-bench-host --address A --wire tcp|udp|rio --rate R --seconds S [--halves N]
// (--halves: stop after N buffer switches, if that comes first)
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "asio/asio.h"
#include "com/class_id.h"
#include "com/exports.h"
#include "platform/fault.h"
#include "platform/version.h"
#include "play/audio_source.h"
#include "play/player.h"
#include "play/streamer_settings_store.h"

namespace {

using namespace tavro;

// One second of the test signal, computed before the stream and then played
// in a loop: a fill is a copy, as from a decoded file in memory.
class MemorySource : public play::AudioSource {
 public:
  MemorySource(bool dsd, double rate) : dsd_(dsd) {
    auto signal = play::makeTestSignal(dsd);
    const auto words = static_cast<size_t>(dsd ? rate / 32 : rate);
    left_.resize(words);
    right_.resize(words);
    signal->fill(left_.data(), right_.data(), static_cast<int32_t>(words));
  }
  bool isDsd() const override { return dsd_; }
  double nativeRate() const override { return 0; }
  void fill(uint32_t* left, uint32_t* right, int32_t words) override {
    for (auto left_words = static_cast<size_t>(words); left_words > 0;) {
      const size_t run = std::min(left_words, left_.size() - at_);
      std::memcpy(left, left_.data() + at_, run * sizeof(uint32_t));
      std::memcpy(right, right_.data() + at_, run * sizeof(uint32_t));
      left += run;
      right += run;
      left_words -= run;
      at_ = (at_ + run) % left_.size();
    }
  }
  bool finished() const override { return false; }
  std::string describe() const override { return "the test signal, from memory"; }

 private:
  bool dsd_;
  std::vector<uint32_t> left_, right_;
  size_t at_ = 0;
};

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int usage() {
  std::fprintf(
      stderr,
      "usage: tavro-bench-host --address A --wire tcp|udp|rio --rate R --seconds S [--halves N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address, wire;
  double rate = 0, seconds = 0;
  long long halves = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--address") == 0) {
      address = argv[i + 1];
    } else if (std::strcmp(argv[i], "--wire") == 0) {
      wire = argv[i + 1];
    } else if (std::strcmp(argv[i], "--rate") == 0) {
      rate = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--halves") == 0) {
      halves = std::atoll(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--seconds") == 0) {
      seconds = std::atof(argv[i + 1]);
    } else {
      return usage();
    }
  }
  if (address.empty() || rate <= 0 || seconds <= 0 ||
      (wire != "tcp" && wire != "udp" && wire != "rio")) {
    return usage();
  }
  // In UDP mode the driver takes Registered I/O where Windows reports 6.2
  // and plain UDP where it reports 6.1; the wire itself is the sink's setting.
  std::optional<platform::ScopedFault> version;
  if (wire != "tcp") {
    version.emplace(
        platform::Call::GetVersionExA,
        platform::FaultPlan{0, -1, platform::versionFaultValue(6, wire == "rio" ? 2 : 1)});
  }
  std::string error;
  if (!play::storeHost(address, error)) {
    std::fprintf(stderr, "tavro-bench-host: %s\n", error.c_str());
    return 1;
  }
  com::IClassFactory* factory = nullptr;
  void* object = nullptr;
  if (DllGetClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory,
                        reinterpret_cast<void**>(&factory)) != 0 ||
      factory->CreateInstance(nullptr, com::kClsidTavroDriver, &object) != 0) {
    std::fprintf(stderr, "tavro-bench-host: no driver object\n");
    return 1;
  }
  factory->Release();
  auto* driver = static_cast<asio::IAsio*>(object);
  if (driver->init(nullptr) != asio::kAsioTrue) {
    char text[128] = {};
    driver->getErrorMessage(text);
    std::fprintf(stderr, "tavro-bench-host: init failed: %s\n", text);
    driver->Release();
    return 1;
  }
  MemorySource source(rate >= 2822400.0, rate);
  const double before = cpuSeconds();
  const play::PlayResult result = play::play(*driver, source, rate, seconds, halves);
  const double cpu = cpuSeconds() - before;
  driver->Release();
  if (!result.started) {
    std::fprintf(stderr, "tavro-bench-host: start failed: %s\n", result.error.c_str());
    return 1;
  }
  const double audio = static_cast<double>(result.halves) * result.bufferFrames / rate;
  std::printf("host: halves=%lld frames=%d audio-s=%.3f cpu-s=%.4f cpu-per-audio-s=%.5f\n",
              static_cast<long long>(result.halves), result.bufferFrames, audio, cpu,
              audio > 0 ? cpu / audio : 0.0);
  // The sink ends the stream at its tick limit, which the host sees as a stall.
  return 0;
}

// tavro-play: loads the TAVRO driver like an ASIO host, reports what it says
// and, when asked, plays through it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "play/audio_source.h"
#include "play/driver_library.h"
#include "asio_host/installed_drivers.h"
#include "play/player.h"
#include "play/streamer_settings_store.h"

namespace {

std::string defaultDriverPath(const char* argv0) {
  std::string self = argv0;
  const size_t cut = self.find_last_of("/\\");
  const std::string dir = cut == std::string::npos ? "." : self.substr(0, cut);
  return dir + "/../" TAVRO_DRIVER_FILE_NAME;
}

void TAVRO_CDECL onBufferSwitch(int32_t, tavro::asio::AsioBool) {}
void TAVRO_CDECL onRateChange(tavro::asio::AsioSampleRate) {}

// What a host asks before it starts a stream; the buffer size follows the
// streamer's own setting.
void describeStream(tavro::asio::IAsio& driver, bool withBuffers) {
  using namespace tavro::asio;
  int32_t inputs = 0, outputs = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  int32_t inputLatency = 0, outputLatency = 0;
  AsioSampleRate rate = 0;
  driver.getChannels(&inputs, &outputs);
  driver.getBufferSize(&minSize, &maxSize, &preferred, &granularity);
  driver.getLatencies(&inputLatency, &outputLatency);
  driver.getSampleRate(&rate);
  std::printf("channels: %d in, %d out; buffer %d frames; latency %d/%d; rate %.0f Hz\n", inputs,
              outputs, preferred, inputLatency, outputLatency, rate);

  // A host that plays creates its buffers once, for the stream.
  if (!withBuffers) return;
  AsioCallbacks callbacks{&onBufferSwitch, &onRateChange, nullptr, nullptr};
  AsioBufferInfo infos[2] = {{kAsioFalse, 0, {}}, {kAsioFalse, 1, {}}};
  const AsioError created = driver.createBuffers(infos, 2, preferred, &callbacks);
  for (int32_t channel = 0; channel < outputs && channel < 2; ++channel) {
    AsioChannelInfo info{};
    info.channel = channel;
    driver.getChannelInfo(&info);
    std::printf("output %d: \"%s\", sample type %d, %s\n", channel, info.name, info.type,
                info.isActive == kAsioTrue ? "buffers ready" : "no buffers");
  }
  if (created != kAseOk) std::printf("buffers:  createBuffers failed (%d)\n", created);
  driver.disposeBuffers();
}

int usage() {
  std::fprintf(stderr,
               "usage: tavro-play --list\n"
               "       tavro-play [--driver PATH | --asio NAME] [--single-pc | --host ADDRESS]\n"
               "                  [--signal | --dsd-signal | --wav FILE | --dsf FILE]\n"
               "                  [--rate HZ] [--seconds S] [--switch-times FILE]\n"
               "  --list            list the installed ASIO drivers as a host does (Windows)\n"
               "  --asio NAME       create the installed driver NAME through COM (Windows)\n"
               "  --driver PATH     the driver library to load\n"
               "  --single-pc       first store: the streamer runs on this PC (127.0.0.1)\n"
               "  --host ADDRESS    first store: the streamer's IPv4 address\n"
               "  --signal          play the PCM test signal that tavro-sink --verify checks\n"
               "  --dsd-signal      play the DSD test signal (rate 2822400 unless --rate)\n"
               "  --wav FILE        play a 16/24/32-bit PCM WAV file at its own rate\n"
               "  --dsf FILE        play a DSF file at its own rate\n"
               "  --rate HZ         sample rate for the test signals (default 44100)\n"
               "  --seconds S       how long to play (default 3; files end sooner)\n"
               "  --switch-times FILE  write when each buffer switch returned (steady clock,\n"
               "                    ns), a line per half: for latency measurements\n");
  return 2;
}

// What to play, if anything: the options after the settings ones.
struct PlayRequest {
  enum class Source { kNone, kSignal, kDsdSignal, kWav, kDsf } source = Source::kNone;
  std::string file;
  double rate = 0;
  double seconds = 3;
  std::string switchTimes;  // empty: not kept
};

std::unique_ptr<tavro::play::AudioSource> openSource(const PlayRequest& request,
                                                     std::string& error) {
  using Source = PlayRequest::Source;
  switch (request.source) {
    case Source::kSignal:
      return tavro::play::makeTestSignal(false);
    case Source::kDsdSignal:
      return tavro::play::makeTestSignal(true);
    case Source::kWav:
      return tavro::play::loadWav(request.file, error);
    case Source::kDsf:
      return tavro::play::loadDsf(request.file, error);
    case Source::kNone:
      break;
  }
  return nullptr;
}

// Plays and reports; false when the stream did not start or broke off.
bool playThrough(tavro::asio::IAsio& driver, const PlayRequest& request) {
  std::string error;
  std::unique_ptr<tavro::play::AudioSource> source = openSource(request, error);
  if (source == nullptr) {
    std::printf("play:     %s\n", error.c_str());
    return false;
  }
  double rate = request.rate;
  if (source->nativeRate() > 0) rate = source->nativeRate();
  if (rate <= 0) rate = source->isDsd() ? 2822400.0 : 44100.0;
  std::printf("play:     %s at %.0f Hz for up to %.1f s\n", source->describe().c_str(), rate,
              request.seconds);
  std::vector<int64_t> switchEnds;
  const tavro::play::PlayResult result =
      request.switchTimes.empty()
          ? tavro::play::play(driver, *source, rate, request.seconds)
          : tavro::play::play(driver, *source, rate, request.seconds, switchEnds);
  if (!request.switchTimes.empty()) {
    if (FILE* out = std::fopen(request.switchTimes.c_str(), "w")) {
      for (const int64_t ns : switchEnds) std::fprintf(out, "%lld\n", static_cast<long long>(ns));
      std::fclose(out);
    } else {
      std::printf("play:     cannot write %s\n", request.switchTimes.c_str());
    }
  }
  if (!result.started) {
    std::printf("play:     start failed: %s\n", result.error.c_str());
    return false;
  }
  std::printf("played:   %lld buffer switches of %d frames, sample position %.0f\n",
              static_cast<long long>(result.halves), result.bufferFrames, result.samplePosition);
  if (result.stalled) {
    std::printf("play:     the driver stopped asking for buffers: %s\n", result.error.c_str());
    return false;
  }
  return true;
}

// Init, the host's questions and, when asked, a stream. The exit status:
// 0 played (or only asked), 3 init failed, 4 the stream failed.
int runSession(tavro::asio::IAsio& driver, const std::string& origin, const PlayRequest& request) {
  char name[32] = {};
  driver.getDriverName(name);
  std::printf("driver:   %s, version %d (%s)\n", name, driver.getDriverVersion(), origin.c_str());
  const bool connected = driver.init(nullptr) == tavro::asio::kAsioTrue;
  char text[128] = {};
  driver.getErrorMessage(text);
  if (!connected) {
    std::printf("init:     failed: %s\n", text);
    return 3;
  }
  std::printf("init:     connected to the streamer\n");
  const bool playing = request.source != PlayRequest::Source::kNone;
  describeStream(driver, !playing);
  if (playing && !playThrough(driver, request)) return 4;
  return 0;
}

// Creates the installed driver `name` as a host does and runs a session.
int runInstalled(const char* name, const PlayRequest& request) {
  std::vector<tavro::asio_host::InstalledDriver> drivers;
  std::string error;
  if (!tavro::asio_host::installedDrivers(drivers, error)) {
    std::fprintf(stderr, "tavro-play: %s\n", error.c_str());
    return 1;
  }
  const tavro::asio_host::InstalledDriver* chosen = nullptr;
  for (const auto& driver : drivers) {
    if (driver.name == name) chosen = &driver;
  }
  if (chosen == nullptr) {
    std::fprintf(stderr, "tavro-play: no ASIO driver \"%s\" is installed\n", name);
    return 1;
  }
  tavro::asio_host::ComDriver com(*chosen);
  if (com.driver() == nullptr) {
    std::fprintf(stderr, "tavro-play: %s\n", com.error().c_str());
    return 1;
  }
  const int status = runSession(*com.driver(), "COM " + chosen->clsid, request);
  com.driver()->Release();
  std::printf("unload:   released through COM\n");
  return status;
}

// What a host's device list shows: one line per installed driver.
int listDrivers() {
  std::vector<tavro::asio_host::InstalledDriver> drivers;
  std::string error;
  if (!tavro::asio_host::installedDrivers(drivers, error)) {
    std::fprintf(stderr, "tavro-play: %s\n", error.c_str());
    return 1;
  }
  if (drivers.empty()) std::printf("no ASIO driver is installed\n");
  for (const auto& driver : drivers) {
    std::printf("asio:     %s | %s | %s\n", driver.name.c_str(), driver.description.c_str(),
                driver.clsid.empty() ? "(no CLSID)" : driver.clsid.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string driverPath = defaultDriverPath(argv[0]);
  bool singlePc = false;
  const char* host = nullptr;
  const char* asioName = nullptr;
  PlayRequest request;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0 && argc == 2) {
      return listDrivers();
    } else if (std::strcmp(argv[i], "--asio") == 0 && i + 1 < argc) {
      asioName = argv[++i];
    } else if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
      driverPath = argv[++i];
    } else if (std::strcmp(argv[i], "--single-pc") == 0) {
      singlePc = true;
    } else if (std::strcmp(argv[i], "--host") == 0 && i + 1 < argc) {
      host = argv[++i];
    } else if (std::strcmp(argv[i], "--signal") == 0) {
      request.source = PlayRequest::Source::kSignal;
    } else if (std::strcmp(argv[i], "--dsd-signal") == 0) {
      request.source = PlayRequest::Source::kDsdSignal;
    } else if (std::strcmp(argv[i], "--wav") == 0 && i + 1 < argc) {
      request.source = PlayRequest::Source::kWav;
      request.file = argv[++i];
    } else if (std::strcmp(argv[i], "--dsf") == 0 && i + 1 < argc) {
      request.source = PlayRequest::Source::kDsf;
      request.file = argv[++i];
    } else if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
      request.rate = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      request.seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--switch-times") == 0 && i + 1 < argc) {
      request.switchTimes = argv[++i];
    } else {
      return usage();
    }
  }
  if (singlePc || host != nullptr) {
    std::string error;
    const bool stored =
        singlePc ? tavro::play::storeSinglePc(error) : tavro::play::storeHost(host, error);
    if (!stored) {
      std::fprintf(stderr, "tavro-play: %s\n", error.c_str());
      return 1;
    }
    std::printf("settings: streamer at %s\n", singlePc ? "127.0.0.1 (this PC)" : host);
  }

  if (asioName != nullptr) return runInstalled(asioName, request);
  tavro::play::DriverLibrary library(driverPath);
  if (!library.error().empty()) {
    std::fprintf(stderr, "tavro-play: %s\n", library.error().c_str());
    return 1;
  }
  tavro::asio::IAsio* driver = library.createDriver();
  if (driver == nullptr) {
    std::fprintf(stderr, "tavro-play: %s\n", library.error().c_str());
    return 1;
  }

  const int status = runSession(*driver, driverPath, request);
  driver->Release();
  std::printf("unload:   %s\n", library.canUnload() ? "library idle, may unload" : "library busy");
  return status;
}

// tavro-play: loads the TAVRO driver like an ASIO host and reports what it
// says. Usage: tavro-play [--driver PATH] [--single-pc | --host ADDRESS]
#include <cstdio>
#include <cstring>
#include <string>

#include "play/driver_library.h"
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
void describeStream(tavro::asio::IAsio& driver) {
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
               "usage: tavro-play [--driver PATH] [--single-pc | --host ADDRESS]\n"
               "  --driver PATH     the driver library to load\n"
               "  --single-pc       first store: the streamer runs on this PC (127.0.0.1)\n"
               "  --host ADDRESS    first store: the streamer's IPv4 address\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string driverPath = defaultDriverPath(argv[0]);
  bool singlePc = false;
  const char* host = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
      driverPath = argv[++i];
    } else if (std::strcmp(argv[i], "--single-pc") == 0) {
      singlePc = true;
    } else if (std::strcmp(argv[i], "--host") == 0 && i + 1 < argc) {
      host = argv[++i];
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

  char name[32] = {};
  driver->getDriverName(name);
  std::printf("driver:   %s, version %d (%s)\n", name, driver->getDriverVersion(),
              driverPath.c_str());
  const bool connected = driver->init(nullptr) == tavro::asio::kAsioTrue;
  char text[128] = {};
  driver->getErrorMessage(text);
  if (connected) {
    std::printf("init:     connected to the streamer\n");
  } else {
    std::printf("init:     failed: %s\n", text);
  }

  if (connected) describeStream(*driver);

  driver->Release();
  std::printf("unload:   %s\n", library.canUnload() ? "library idle, may unload" : "library busy");
  return connected ? 0 : 3;
}

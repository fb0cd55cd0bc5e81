// tavro-play: loads the TAVRO driver like an ASIO host and reports what it
// says. Usage: tavro-play [--driver PATH]
#include <cstdio>
#include <cstring>
#include <string>

#include "play/driver_library.h"

namespace {

std::string defaultDriverPath(const char* argv0) {
  std::string self = argv0;
  const size_t cut = self.find_last_of("/\\");
  const std::string dir = cut == std::string::npos ? "." : self.substr(0, cut);
  return dir + "/../" TAVRO_DRIVER_FILE_NAME;
}

int usage() {
  std::fprintf(stderr, "usage: tavro-play [--driver PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string driverPath = defaultDriverPath(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
      driverPath = argv[++i];
    } else {
      return usage();
    }
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
  std::printf("init:     %s%s%s\n", connected ? "connected to the streamer" : "failed",
              text[0] != '\0' ? ": " : "", text);

  driver->Release();
  std::printf("unload:   %s\n", library.canUnload() ? "library idle, may unload" : "library busy");
  return connected ? 0 : 3;
}

// A whole host session against a streamer whose every byte is the fuzzer's:
// the greeting reply, the settings and interface replies, the announcement's
// answer and the ticks arrive as one stream, cut into segments of a chosen
// size, and then the streamer closes. The host's calls must all return.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "asio/asio.h"
#include "com/class_factory.h"
#include "com/class_id.h"
#include "com/exports.h"
#include "control/streamer_host.h"
#include "platform/registry.h"

namespace {

using namespace tavro;

constexpr const char* kAddress = "127.91.17.5";
int listener = -1;

bool setUp() {
  char dir[] = "/tmp/tavro-fuzz-XXXXXX";
  if (::mkdtemp(dir) == nullptr) return false;
  ::setenv("TAVRO_REGISTRY_DIR", dir, 1);
  ::setenv("TAVRO_DESKTOP_LOG", "/dev/null", 1);
  platform::RegKey key = 0;
  if (platform::regCreateKey(platform::registryRoot(platform::RegRoot::kCurrentUser),
                             control::kSettingsKey, &key) != platform::kRegOk) {
    return false;
  }
  platform::regSetString(key, control::kSinglePcValue, "0", 2);
  platform::regSetString(key, control::kHostValue, kAddress,
                         static_cast<uint32_t>(std::char_traits<char>::length(kAddress) + 1));
  platform::regCloseKey(key);

  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // A driver that never connects must not leave the accept waiting forever.
  timeval wait{2, 0};
  ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(48168);
  ::inet_pton(AF_INET, kAddress, &address.sin_addr);
  return ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
         ::listen(listener, 4) == 0;
}

asio::IAsio* createDriver() {
  com::IClassFactory* factory = nullptr;
  if (DllGetClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory,
                        reinterpret_cast<void**>(&factory)) != com::kSOk) {
    return nullptr;
  }
  void* driver = nullptr;
  const com::HResult result = factory->CreateInstance(nullptr, com::kClsidTavroDriver, &driver);
  factory->Release();
  return result == com::kSOk ? static_cast<asio::IAsio*>(driver) : nullptr;
}

// Sends the input, then takes whatever the driver sends until it closes.
void streamer(const uint8_t* data, size_t size, size_t segment) {
  const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) return;
  for (size_t at = 0; at < size; at += segment) {
    if (::send(peer, data + at, std::min(segment, size - at), MSG_NOSIGNAL) < 0) break;
  }
  ::shutdown(peer, SHUT_WR);
  timeval wait{2, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  char sink[8192];
  while (::recv(peer, sink, sizeof sink, 0) > 0) {
  }
  ::close(peer);
}

void TAVRO_CDECL ignoreSwitch(int32_t, asio::AsioBool) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setUp();
  if (!ready) std::abort();
  if (size < 1) return 0;
  const size_t segment = 1 + data[0] % 255;
  std::thread peer(streamer, data + 1, size - 1, segment);

  asio::IAsio* driver = createDriver();
  if (driver == nullptr) std::abort();
  if (driver->init(nullptr) == asio::kAsioTrue) {
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    asio::AsioCallbacks callbacks{&ignoreSwitch, nullptr, nullptr, nullptr};
    asio::AsioBufferInfo infos[2] = {{asio::kAsioFalse, 0, {}}, {asio::kAsioFalse, 1, {}}};
    if (driver->createBuffers(infos, 2, preferred, &callbacks) == asio::kAseOk) {
      if (driver->start() == asio::kAseOk) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      driver->stop();
      driver->disposeBuffers();
    }
  }
  if (driver->Release() != 0) std::abort();
  peer.join();
  return 0;
}

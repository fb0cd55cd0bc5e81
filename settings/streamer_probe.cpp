#include "settings/streamer_probe.h"

#include <cstdio>
#include <new>

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "control/settings_query.h"
#include "driver/buffer_size.h"
#include "platform/net.h"

namespace tavro::settings {
namespace {

class NetworkInUse {
 public:
  NetworkInUse() noexcept : started_(platform::netStartup() == 0) {}
  ~NetworkInUse() {
    if (started_) platform::netCleanup();
  }
  NetworkInUse(const NetworkInUse&) = delete;
  NetworkInUse& operator=(const NetworkInUse&) = delete;

 private:
  bool started_;
};

std::u16string widened(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

constexpr double kReferenceRate = 44100.0;

}  // namespace

ProbeResult probeStreamer(const std::string& host) noexcept {
  ProbeResult result;
  try {
    NetworkInUse network;
    control::Connection connection;
    control::StreamerLink link;
    link.hostName = host;
    link.portText = control::kStreamerPort;
    control::Outcome outcome = control::openControlConnection(connection, link);
    if (outcome.ok() &&
        !control::queryStreamerSettings(connection, result.bufferIndex, result.settings)) {
      // The driver names no cause here, so its host reads init's own text.
      outcome = control::failed(control::Notification::kSetupFailed);
    }
    connection.close();
    // The driver keeps the reply's leading mark on the first name; a user
    // should see (and store) the streamer's own name.
    std::vector<std::u16string>& names = result.settings.interfaces;
    if (!names.empty() && !names.front().empty() && names.front().front() == u's') {
      names.front().erase(0, 1);
    }
    result.reached = outcome.ok();
    if (!result.reached) {
      result.failureText = outcome.text != nullptr ? outcome.text : control::errors::kOpenFailure;
    }
  } catch (const std::bad_alloc&) {
    result = ProbeResult{};
    result.failureText = control::errors::kOpenFailure;
  }
  return result;
}

std::u16string describeProbe(const std::string& host, const ProbeResult& result) {
  if (!result.reached) return widened(host + ": " + result.failureText);
  const control::StreamerSettings& settings = result.settings;
  const int32_t frames = driver::bufferSizeFor(result.bufferIndex, kReferenceRate);
  char facts[200];
  std::snprintf(facts, sizeof facts,
                "The streamer at %s answered.\r\nTransport: %s\r\nWord length: %u bits\r\n"
                "Buffer: %d frames (%.1f ms at 44.1 kHz)\r\nInterfaces:",
                host.c_str(),
                settings.transportMode == control::kTransportUdp ? "UDP" : "TCP",
                settings.wordLength, frames, frames * 1000.0 / kReferenceRate);
  std::u16string text = widened(facts);
  for (size_t i = 0; i < settings.interfaces.size(); ++i) {
    const bool chosen = i == settings.interfaceIndex;
    text += chosen ? u"\r\n  \u25B6 " : u"\r\n     ";
    text += settings.interfaces[i];
    if (chosen) text += u"  (chosen)";
  }
  if (settings.interfaces.empty()) text += u" none";
  return text;
}

}  // namespace tavro::settings

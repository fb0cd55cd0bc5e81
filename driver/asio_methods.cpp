#include "driver/vantrel.h"

// The query, format and buffer operations arrive with the next step of the
// driver; until then a host is told they are not present.
namespace tavro::driver {

asio::AsioError Vantrel::getChannels(int32_t*, int32_t*) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::getLatencies(int32_t*, int32_t*) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::getBufferSize(int32_t*, int32_t*, int32_t*, int32_t*) noexcept {
  return asio::kAseNotPresent;
}
asio::AsioError Vantrel::canSampleRate(asio::AsioSampleRate) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::getSampleRate(asio::AsioSampleRate*) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::setSampleRate(asio::AsioSampleRate) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::getClockSources(asio::AsioClockSource*, int32_t*) noexcept {
  return asio::kAseNotPresent;
}
asio::AsioError Vantrel::setClockSource(int32_t) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::getSamplePosition(asio::AsioSamples*, asio::AsioTimeStamp*) noexcept {
  return asio::kAseNotPresent;
}
asio::AsioError Vantrel::getChannelInfo(asio::AsioChannelInfo*) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::createBuffers(asio::AsioBufferInfo*, int32_t, int32_t,
                                       asio::AsioCallbacks*) noexcept {
  return asio::kAseNotPresent;
}
asio::AsioError Vantrel::disposeBuffers() noexcept {
  releaseStreamResources();
  return asio::kAseOk;
}
asio::AsioError Vantrel::controlPanel() noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::future(int32_t, void*) noexcept { return asio::kAseNotPresent; }
asio::AsioError Vantrel::outputReady() noexcept { return controlPanel(); }

}  // namespace tavro::driver

#include "sink/output/asio/asio_drivers.h"
#include "sink/output/asio/asio_output.h"
#include "sink/output/output_backend.h"
#include "sink/output/wasapi/wasapi_endpoints.h"
#include "sink/output/wasapi/wasapi_output.h"

namespace tavro::sink {

std::span<const OutputBackend> outputBackends() {
  static constexpr OutputBackend kBackends[] = {
      {kAsioPrefix, AsioOutput::open, listAsioDevices, asioDeviceNames, describeAsioOffer},
      {kWasapiPrefix, WasapiOutput::open, listWasapiDevices, wasapiDeviceNames,
       describeWasapiOffer},
  };
  return kBackends;
}

}  // namespace tavro::sink

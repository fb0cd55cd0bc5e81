#include "sink/output/asio/asio_drivers.h"
#include "sink/output/asio/asio_output.h"
#include "sink/output/output_backend.h"

namespace tavro::sink {

std::span<const OutputBackend> outputBackends() {
  static constexpr OutputBackend kBackends[] = {
      {kAsioPrefix, AsioOutput::open, listAsioDevices, asioDeviceNames, describeAsioOffer},
  };
  return kBackends;
}

}  // namespace tavro::sink

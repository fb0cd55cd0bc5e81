#include "sink/output/alsa/alsa_output.h"
#include "sink/output/output_backend.h"

namespace tavro::sink {

std::span<const OutputBackend> outputBackends() {
  static constexpr OutputBackend kBackends[] = {
      {"", openAlsaOutput, listAlsaDevices, alsaDeviceNames, describeAlsaOffer},
  };
  return kBackends;
}

}  // namespace tavro::sink

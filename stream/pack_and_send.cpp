#include "driver/vantrel.h"

namespace tavro::driver {

void Vantrel::packAndSend() noexcept {}

}  // namespace tavro::driver

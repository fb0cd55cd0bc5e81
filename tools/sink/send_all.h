#pragma once
// Writes a whole buffer to a connected socket: one place for the retries a
// short or interrupted send needs.
#include <cstddef>
#include <cstdint>

namespace tavro::sink {

// False once the connection refuses more; never raises SIGPIPE.
bool sendAll(int connection, const uint8_t* data, size_t size);

}  // namespace tavro::sink

#pragma once
// A 127.x.y.z address of a test's own, so that tests running side by side in
// several processes can each listen on port 48168. Linux routes all of 127/8
// to the loopback device. 127.0.0.1 is never given out: it belongs to the
// tests of the single-PC setting, which take a lock for it.
#include <string>

namespace tavro::testing {

std::string uniqueLoopbackAddress();

}  // namespace tavro::testing

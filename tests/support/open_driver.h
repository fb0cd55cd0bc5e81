#pragma once
// A driver object made through the class factory for each test, released
// afterwards, with stand-ins for what a host hands it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "asio/asio.h"
#include "driver/vantrel.h"
#include "platform/fault.h"
#include "support/driver_fixture.h"
#include "support/process_state.h"

namespace tavro::testing {

class OpenDriverTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    driver = createDriver();
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (driver != nullptr) {
      EXPECT_EQ(driver->Release(), 0u);
    }
    driver = nullptr;
    DriverTest::TearDown();
  }

  driver::Vantrel& object() { return *static_cast<driver::Vantrel*>(driver); }

  asio::IAsio* driver = nullptr;
};

// Puts a made-up handle into the control connection so that a test can see
// it closed; a data socket lives only with a stream. The system calls are injected to fail, so no real socket
// of the process is touched; only the attempts are counted.
class FakeOpenConnections {
 public:
  static constexpr platform::Socket kControl = 0x7A11;

  FakeOpenConnections() {
    adoptControlSocket(kControl);
  }
  ~FakeOpenConnections() {
    adoptControlSocket(platform::kInvalidSocket);
  }
  FakeOpenConnections(const FakeOpenConnections&) = delete;
  FakeOpenConnections& operator=(const FakeOpenConnections&) = delete;

 private:
  platform::ScopedFault noShutdown_{platform::Call::shutdown};
  platform::ScopedFault noClose_{platform::Call::closesocket};
};

// The host side of sampleRateDidChange; a plain function, as hosts pass.
struct RateChangeLog {
  static inline int calls = 0;
  static inline double lastRate = 0.0;
  static void TAVRO_CDECL record(asio::AsioSampleRate rate) {
    ++calls;
    lastRate = rate;
  }
  static void reset() {
    calls = 0;
    lastRate = 0.0;
  }
};

inline void TAVRO_CDECL ignoreBufferSwitch(int32_t, asio::AsioBool) {}

}  // namespace tavro::testing

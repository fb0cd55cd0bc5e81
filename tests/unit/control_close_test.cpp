// The control connection is closed from the host's thread and the streaming
// thread alike; a socket must never be shut down or closed twice.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/fault.h"
#include "support/driver_fixture.h"
#include "support/process_state.h"

namespace tavro::testing {
namespace {

using platform::Call;

class ControlCloseTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    driver = createDriver();  // holds the network reference sockets need
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (driver != nullptr) driver->Release();
    DriverTest::TearDown();
  }
  asio::IAsio* driver = nullptr;
};

TEST_F(ControlCloseTest, ThreadsClosingAtOnceCloseEachSocketExactlyOnce) {
  constexpr int kRounds = 200;
  constexpr int kThreads = 4;
  platform::resetCallCounts();
  for (int round = 0; round < kRounds; ++round) {
    const platform::Socket socket = platform::openTcpSocket();
    ASSERT_NE(socket, platform::kInvalidSocket);
    adoptControlSocket(socket);
    std::atomic<bool> go{false};
    std::vector<std::thread> closers;
    for (int i = 0; i < kThreads; ++i) {
      closers.emplace_back([&] {
        while (!go.load()) {
        }
        closeControlConnection();
      });
    }
    go.store(true);
    for (std::thread& closer : closers) closer.join();
    EXPECT_FALSE(controlConnectionOpen());
  }
  EXPECT_EQ(platform::callCount(Call::closesocket), static_cast<uint32_t>(kRounds));
  EXPECT_EQ(platform::callCount(Call::shutdown), static_cast<uint32_t>(kRounds));
}

TEST_F(ControlCloseTest, ClosingAClosedConnectionTouchesNoSocket) {
  platform::resetCallCounts();
  closeControlConnection();
  closeControlConnection();
  EXPECT_EQ(platform::callCount(Call::closesocket), 0u);
}

}  // namespace
}  // namespace tavro::testing

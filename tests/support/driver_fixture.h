#pragma once
// Creates driver objects the way a host does and puts the process-wide state
// back as it was at load time after every test.
#include <gtest/gtest.h>

#include "asio/asio.h"
#include "support/temp_dir.h"

namespace tavro::testing {

// Asks the class factory for a new driver with the class id as interface id,
// as ASIO hosts do. The caller releases it.
asio::IAsio* createDriver();

// Resets sockets, stream flags and call counts; gives each test its own
// registry directory on POSIX.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TempDir scratch;
};

}  // namespace tavro::testing

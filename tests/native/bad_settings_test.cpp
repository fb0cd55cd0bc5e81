// Whatever a user or another program left in the driver's settings, init
// answers with a failure the host can show, or connects where the text
// plainly says: never a crash, a hang or a connection somewhere else.
#include <gtest/gtest.h>

#include <string>

#include "control/error_texts.h"
#include "control_fixture.h"

namespace tavro::testing {
namespace {

enum class Kind { kText, kDword, kBytes };

struct BadSetting {
  const char* name;
  const char* value;  // which setting
  Kind kind;
  std::string data;   // "@" stands for the test's own streamer address
  const char* error;  // null: init connects to the test's streamer
};

const std::string kOverlong(300, '1');

const BadSetting kCases[] = {
    {"HostIsAName", control::kHostValue, Kind::kText, "localhost",
     control::errors::kCannotCreateSocket},
    {"HostIsIpv6", control::kHostValue, Kind::kText, "::1", control::errors::kCannotCreateSocket},
    {"HostIsOverlong", control::kHostValue, Kind::kText, kOverlong, control::errors::kOpenFailure},
    {"HostIsANumber", control::kHostValue, Kind::kDword, "", control::errors::kOpenFailure},
    {"HostHasAPort", control::kHostValue, Kind::kText, "@:48168",
     control::errors::kCannotCreateSocket},
    {"HostHasSpaces", control::kHostValue, Kind::kText, " @ ",
     control::errors::kCannotCreateSocket},
    {"HostIsGarbage", control::kHostValue, Kind::kText, "\x01\xff\x7f",
     control::errors::kCannotCreateSocket},
    {"HostOutOfRange", control::kHostValue, Kind::kText, "300.1.1.1",
     control::errors::kCannotCreateSocket},
    {"HostWithEmbeddedNul", control::kHostValue, Kind::kBytes, std::string("@\0junk", 6), nullptr},
    {"SinglePcOverlong", control::kSinglePcValue, Kind::kText, kOverlong, nullptr},
    {"SinglePcEmpty", control::kSinglePcValue, Kind::kText, "", nullptr},
    {"SinglePcIsAWord", control::kSinglePcValue, Kind::kText, "yes", nullptr},
    {"SinglePcIsBinary", control::kSinglePcValue, Kind::kBytes, std::string("\0\1", 2), nullptr},
};

void PrintTo(const BadSetting& c, std::ostream* os) { *os << c.name; }

class BadSettingTest : public ControlTest, public ::testing::WithParamInterface<BadSetting> {};

TEST_P(BadSettingTest, InitFailsWithItsTextOrConnectsWhereTheTextSays) {
  const BadSetting& c = GetParam();
  startPeer();
  setSetting(control::kSinglePcValue, "0");
  setSetting(control::kHostValue, address);
  std::string data = c.data;
  if (const size_t at = data.find('@'); at != std::string::npos) data.replace(at, 1, address);
  platform::RegKey key = 0;
  ASSERT_EQ(
      platform::regOpenKey(currentUser(), control::kSettingsKey, platform::kKeySetValue, &key),
      platform::kRegOk);
  if (c.kind == Kind::kDword) {
    platform::regSetDword(key, c.value, 0x0100007F);
  } else {
    platform::regSetString(key, c.value, data.c_str(),
                           static_cast<uint32_t>(data.size() + (c.kind == Kind::kText ? 1 : 0)));
  }
  platform::regCloseKey(key);

  const asio::AsioBool result = driver->init(nullptr);
  if (c.error == nullptr) {
    EXPECT_EQ(result, asio::kAsioTrue) << errorText();
    EXPECT_TRUE(controlConnectionOpen());
  } else {
    EXPECT_EQ(result, asio::kAsioFalse);
    EXPECT_EQ(errorText(), c.error);
    EXPECT_FALSE(controlConnectionOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, BadSettingTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavro::testing

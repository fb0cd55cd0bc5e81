// The format announcement against a real tavro-sink: only "+OK" lets start go
// on; every other outcome closes the connection with the right text and, for
// the streamer's three refusals, its notification.
#include "control/format_announcement.h"

#include <gmock/gmock.h>

#include <optional>
#include <vector>

#include "control/error_texts.h"
#include "control_fixture.h"
#include "platform/fault.h"

namespace tavro::testing {
namespace {

using platform::Call;
using sink::Step;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace errors = control::errors;

constexpr control::AnnouncedFormat kCdFormat{44100, 16, 1024, 4096};

class AnnouncementTest : public ControlTest {
 protected:
  // Connects through init against a peer scripted for the announcement.
  void connect(int refuse, StepScript script = {}) {
    setSetting(control::kHostValue, address);
    HostileOptions options;
    options.refuse = refuse;
    options.script[static_cast<size_t>(Step::kAnnouncement)] = std::move(script);
    startPeer(options);
    ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue);
  }
};

struct AnnouncementCase {
  const char* name;
  int refuse;
  StepScript script;
  std::optional<Call> fault;
  const char* errorText;
  std::vector<uintptr_t> codes;
};

// Test names already say which case ran; print only that.
void PrintTo(const AnnouncementCase& c, std::ostream* out) { *out << c.name; }

class AnnouncementOutcomeTest : public AnnouncementTest,
                                public ::testing::WithParamInterface<AnnouncementCase> {};

// The notification an outcome asks for, as the spy would list it.
std::vector<uintptr_t> codesOf(const control::Outcome& outcome) {
  if (outcome.notification == control::Notification::kNone) return {};
  return {static_cast<uintptr_t>(outcome.notification)};
}

TEST_P(AnnouncementOutcomeTest, FailsClosedWithTheRightTextAndNotification) {
  const AnnouncementCase& c = GetParam();
  connect(c.refuse, c.script);
  if (HasFatalFailure()) return;
  std::optional<platform::ScopedFault> fault;
  if (c.fault) fault.emplace(*c.fault);
  const control::Outcome outcome = control::announceFormat(controlConnection(), kCdFormat);
  fault.reset();
  EXPECT_EQ(outcome.result, asio::kAseNotPresent);
  EXPECT_STREQ(outcome.text, c.errorText);
  EXPECT_EQ(codesOf(outcome), c.codes);
  EXPECT_FALSE(controlConnectionOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AnnouncementOutcomeTest,
    ::testing::Values(
        AnnouncementCase{"Error1", 1, {}, std::nullopt, errors::kNoResponse, {1}},
        AnnouncementCase{"Error2", 2, {}, std::nullopt, errors::kNoResponse, {2}},
        AnnouncementCase{"Error3", 3, {}, std::nullopt, errors::kNoResponse, {3}},
        AnnouncementCase{"Error4", 4, {}, std::nullopt, errors::kNoResponse, {}},
        AnnouncementCase{"OkFollowedByMore",
                         0,
                         {Misbehaviour::kNone, "+OK ready"},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{
            "LowerCaseOk", 0, {Misbehaviour::kNone, "+ok"}, std::nullopt, errors::kNoResponse, {}},
        AnnouncementCase{"ErrorWithTrailingSpace",
                         0,
                         {Misbehaviour::kNone, "ERROR 1 "},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{"UnterminatedOk",
                         0,
                         {Misbehaviour::kUnterminated, "+OK"},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{"ShortReply",
                         0,
                         {Misbehaviour::kShortFrame, std::nullopt},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{"NoReply",
                         0,
                         {Misbehaviour::kSilentThenClose, std::nullopt},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{"StreamerCloses",
                         0,
                         {Misbehaviour::kClose, std::nullopt},
                         std::nullopt,
                         errors::kNoResponse,
                         {}},
        AnnouncementCase{"ReceiveFails", 0, {}, Call::recv, errors::kNoResponse, {}},
        AnnouncementCase{"SendFails", 0, {}, Call::send, errors::kCannotSendToStreamer, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AnnouncementTest, AnAcceptedFormatLeavesTheConnectionOpenForTheStream) {
  connect(0);
  ASSERT_FALSE(HasFatalFailure());
  const control::Outcome outcome = control::announceFormat(controlConnection(), kCdFormat);
  EXPECT_TRUE(outcome.ok());
  EXPECT_EQ(outcome.text, nullptr);
  EXPECT_TRUE(codesOf(outcome).empty());
  EXPECT_TRUE(controlConnectionOpen());
  closeControlConnection();
  ASSERT_TRUE(peer->waitForEnded(1, std::chrono::seconds(5)));
  EXPECT_EQ(peer->received().back(),
            "+ SampleRate 44100 Bits 16 PacketSize 1024 DatagramSize 4096");
}

TEST_F(AnnouncementTest, AnnouncingOnAClosedConnectionFailsAsAnUnsentFrame) {
  connect(0);
  ASSERT_FALSE(HasFatalFailure());
  closeControlConnection();
  const control::Outcome outcome = control::announceFormat(controlConnection(), kCdFormat);
  EXPECT_EQ(outcome.result, asio::kAseNotPresent);
  EXPECT_STREQ(outcome.text, errors::kCannotSendToStreamer);
  EXPECT_TRUE(codesOf(outcome).empty());
}

}  // namespace
}  // namespace tavro::testing

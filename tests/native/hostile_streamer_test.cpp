// A streamer that answers with malformed, dribbled, doubled or no replies,
// or dies at any step: the host's call returns in bounded time with the
// documented result, text and notification, and nothing is left open.
#include <gmock/gmock.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "control/error_texts.h"
#include "control/wire_frame.h"
#include "stream_fixture.h"

namespace tavro::testing {
namespace {

using sink::Step;
namespace errors = control::errors;

// Short enough to keep the silent cases quick, long enough for a trickled
// reply under a sanitizer on a loaded machine.
constexpr uint32_t kTestReplyLimitMs = 2000;

// Where the session stops, and what the host is told there.
enum class Outcome { kStreams, kInitFails, kStartFails };

struct HostileCase {
  std::string name;
  Step step;
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::optional<std::string> reply = std::nullopt;
  Outcome outcome = Outcome::kStreams;
  const char* errorText = "";  // when the outcome is a failure
  std::vector<uintptr_t> codes = {};
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

// A reply that never comes whole fails the exchange it belongs to, whether
// the streamer closes, stops mid-frame or just never answers.
std::vector<HostileCase> deathAtEveryStep() {
  const std::pair<Misbehaviour, const char*> deaths[] = {
      {Misbehaviour::kClose, "ClosesAt"},
      {Misbehaviour::kShortFrame, "DiesMidReplyAt"},
      {Misbehaviour::kSilent, "HangsAt"},
  };
  const std::pair<Step, const char*> steps[] = {{Step::kGreeting, "Greeting"},
                                                {Step::kSettings, "Settings"},
                                                {Step::kInterfaces, "Interfaces"},
                                                {Step::kAnnouncement, "Announcement"}};
  std::vector<HostileCase> cases;
  for (const auto& [death, deathName] : deaths) {
    for (const auto& [step, stepName] : steps) {
      HostileCase c{std::string(deathName) + stepName, step, death};
      switch (step) {
        case Step::kGreeting:
          c.outcome = Outcome::kInitFails;
          c.errorText = errors::kNoResponse;
          break;
        case Step::kSettings:
        case Step::kInterfaces:
          c.outcome = Outcome::kInitFails;
          c.errorText = errors::kOpenFailure;
          c.codes = {30};
          break;
        default:
          c.outcome = Outcome::kStartFails;
          c.errorText = errors::kNoResponse;
          break;
      }
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

std::vector<HostileCase> hostileReplies() {
  const std::string longWord(510, '9');
  std::vector<HostileCase> cases = {
      // Whole replies in 1-byte segments are still whole replies.
      {"TrickledGreeting", Step::kGreeting, Misbehaviour::kTrickle},
      {"TrickledSettings", Step::kSettings, Misbehaviour::kTrickle},
      {"TrickledAnnouncementReply", Step::kAnnouncement, Misbehaviour::kTrickle},
      // A second copy glued to a reply answers the next request in its place.
      {"GluedGreeting",
       Step::kGreeting,
       Misbehaviour::kGlued,
       std::nullopt,
       Outcome::kInitFails,
       errors::kOpenFailure,
       {30}},
      {"GluedSettings", Step::kSettings, Misbehaviour::kGlued, std::nullopt, Outcome::kStartFails,
       errors::kNoResponse},
      {"GluedInterfaces", Step::kInterfaces, Misbehaviour::kGlued, std::nullopt,
       Outcome::kStartFails, errors::kNoResponse},
      {"GluedAnnouncementReply", Step::kAnnouncement, Misbehaviour::kGlued},
      // Malformed replies are parsed as far as they go, never past the frame.
      {"UnterminatedGreeting", Step::kGreeting, Misbehaviour::kUnterminated},
      {"UnterminatedSettings", Step::kSettings, Misbehaviour::kUnterminated},
      {"UnterminatedInterfaces", Step::kInterfaces, Misbehaviour::kUnterminated},
      {"SettingsOneLongWord", Step::kSettings, Misbehaviour::kNone, "s" + longWord},
      {"SettingsNegativeNumbers", Step::kSettings, Misbehaviour::kNone,
       "sget a b c d -1 transport -1 interface -7 wordLength -24 shift -3 spare -1 invert -1 "
       "driveMode 0"},
      {"SettingsNumbersOutOfRange", Step::kSettings, Misbehaviour::kNone,
       "sget a b c d 99999999999 transport 4294967296 interface 4294967295 wordLength "
       "18446744073709551617 shift 4294967295 spare 9 invert 9 driveMode 0"},
      {"InterfacesOneLongName", Step::kInterfaces, Misbehaviour::kNone, "s" + longWord},
      {"InterfacesOnlyNewlines", Step::kInterfaces, Misbehaviour::kNone,
       "s" + std::string(510, '\n')},
      {"AnnouncementReplyWithoutNul", Step::kAnnouncement, Misbehaviour::kUnterminated,
       std::nullopt, Outcome::kStartFails, errors::kNoResponse},
      {"AnnouncementReplyNegativeError", Step::kAnnouncement, Misbehaviour::kNone, "ERROR -1",
       Outcome::kStartFails, errors::kNoResponse},
  };
  const std::vector<HostileCase> deaths = deathAtEveryStep();
  cases.insert(cases.end(), deaths.begin(), deaths.end());
  return cases;
}

class HostileStreamerTest : public StreamTest, public ::testing::WithParamInterface<HostileCase> {
 protected:
  const ShortReplyLimit replyLimit{kTestReplyLimitMs};

  // init, buffers, start, a few switches, stop: where it stops is the outcome.
  Outcome session() {
    setSetting(control::kSinglePcValue, "0");
    setSetting(control::kHostValue, address);
    if (driver->init(nullptr) != asio::kAsioTrue) return Outcome::kInitFails;
    createSilentBuffers();
    object().report(control::failed(""));
    if (driver->start() != asio::kAseOk) return Outcome::kStartFails;
    int32_t minSize = 0, maxSize = 0, frames = 0, granularity = 0;
    driver->getBufferSize(&minSize, &maxSize, &frames, &granularity);
    const auto position = [this] {
      asio::AsioSamples samples{};
      asio::AsioTimeStamp stamp{};
      driver->getSamplePosition(&samples, &stamp);
      return samples.lo;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (position() < 4u * frames && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(position(), 4u * frames) << "no stream ran";
    EXPECT_EQ(driver->stop(), asio::kAseOk);
    return Outcome::kStreams;
  }
};

TEST_P(HostileStreamerTest, HostGetsTheDocumentedAnswerInTimeAndNothingStaysOpen) {
  const HostileCase& c = GetParam();
  useWire(Wire::kTcp);
  HostileOptions options = sinkOptions(24, 0, 0);
  options.script[static_cast<size_t>(c.step)] = {c.misbehaviour, c.reply};
  startPeer(options);

  auto pending = std::async(std::launch::async, [this] { return session(); });
  // Every reply limit the session can run into, with room to spare.
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the host's call hung";
  EXPECT_EQ(pending.get(), c.outcome)
      << errorText() << " " << ::testing::PrintToString(peer->lines());
  if (c.outcome != Outcome::kStreams) {
    EXPECT_EQ(errorText(), c.errorText);
    EXPECT_EQ(spy.codes(), c.codes);
    EXPECT_FALSE(controlConnectionOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileStreamerTest, ::testing::ValuesIn(hostileReplies()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tavro::testing

// The stand-in DAC as a plain alsa-lib writer meets it: paced by the clock,
// keeping every byte, taking only the formats and rates it lists, and failing
// as a real card fails.
#include <alsa/asoundlib.h>
#include <gmock/gmock.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_sound_card.h"

namespace tavro::testing {
namespace {

using std::chrono::steady_clock;

constexpr const char* kDac = "tavro_test_dac";
constexpr int kExact = SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT;

struct Pcm {
  Pcm() = default;
  Pcm(const Pcm&) = delete;
  Pcm& operator=(const Pcm&) = delete;
  ~Pcm() {
    if (handle) snd_pcm_close(handle);
  }
  int open(const std::string& name, int mode = 0) {
    return snd_pcm_open(&handle, name.c_str(), SND_PCM_STREAM_PLAYBACK, kExact | mode);
  }
  snd_pcm_t* handle = nullptr;
};

int setUp(snd_pcm_t* pcm, snd_pcm_format_t format, unsigned rate, snd_pcm_uframes_t period,
          unsigned periods) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, format);
  if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, 2);
  if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
  if (err >= 0) err = snd_pcm_hw_params_set_period_size(pcm, hw, period, 0);
  if (err >= 0) err = snd_pcm_hw_params_set_periods(pcm, hw, periods, 0);
  if (err >= 0) err = snd_pcm_hw_params(pcm, hw);
  return err < 0 ? err : 0;
}

std::vector<uint8_t> audio(size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 251);
  return data;
}

// One poll() on the PCM's descriptors, as an event loop would make it.
unsigned short pollOnce(snd_pcm_t* pcm) {
  pollfd fds[4];
  const int count = snd_pcm_poll_descriptors(pcm, fds, 4);
  if (count <= 0 || poll(fds, static_cast<nfds_t>(count), 1000) <= 0) return 0;
  unsigned short revents = 0;
  snd_pcm_poll_descriptors_revents(pcm, fds, static_cast<unsigned>(count), &revents);
  return revents;
}

// Writes every frame of `data` in pieces of `period`, waiting in poll() when a
// non-blocking write finds no room: the number of waits, or -1 on an error.
int play(snd_pcm_t* pcm, const std::vector<uint8_t>& data, snd_pcm_uframes_t period) {
  const auto frameBytes = static_cast<size_t>(snd_pcm_frames_to_bytes(pcm, 1));
  const snd_pcm_uframes_t frames = data.size() / frameBytes;
  int waits = 0;
  for (snd_pcm_uframes_t done = 0; done < frames;) {
    const snd_pcm_sframes_t n =
        snd_pcm_writei(pcm, data.data() + done * frameBytes, std::min(frames - done, period));
    if (n == -EAGAIN) {
      pollOnce(pcm);
      ++waits;
      continue;
    }
    if (n <= 0) return -1;
    done += static_cast<snd_pcm_uframes_t>(n);
  }
  return waits;
}

class TestSoundCardTest : public ::testing::Test {
 protected:
  TempDir dir;
  TestSoundCard card{dir.path(),
                     {{kDac, "S16_LE S24_3LE DSD_U32_BE", "44100 48000 88200", "TAVRO test DAC"}}};
};

struct PacingCase {
  const char* name;
  snd_pcm_format_t format;
  unsigned rate;
  bool polled;  // non-blocking writes, waking on poll() between them
};

void PrintTo(const PacingCase& c, std::ostream* out) { *out << c.name; }

class DacPacingTest : public TestSoundCardTest, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(DacPacingTest, PlaysInRealTimeAndKeepsExactlyTheBytesWritten) {
  const PacingCase& c = GetParam();
  constexpr unsigned kPeriods = 4;
  const snd_pcm_uframes_t period = c.rate / 50;
  const snd_pcm_uframes_t frames = c.rate * 3 / 2;
  Pcm pcm;
  ASSERT_EQ(pcm.open(kDac, c.polled ? SND_PCM_NONBLOCK : 0), 0);
  ASSERT_EQ(setUp(pcm.handle, c.format, c.rate, period, kPeriods), 0);
  const std::vector<uint8_t> data =
      audio(static_cast<size_t>(snd_pcm_frames_to_bytes(pcm.handle, frames)));

  const auto begin = steady_clock::now();
  const int waits = play(pcm.handle, data, period);
  ASSERT_GE(waits, 0);
  snd_pcm_nonblock(pcm.handle, 0);
  ASSERT_EQ(snd_pcm_drain(pcm.handle), 0);
  const std::chrono::duration<double> elapsed = steady_clock::now() - begin;

  RecordProperty("elapsed_us", static_cast<int>(elapsed.count() * 1e6));
  EXPECT_NEAR(elapsed.count(), 1.5, 0.015);
  EXPECT_EQ(card.captured(kDac), data);
  // One wake per period once the buffer is full: the plugin paces the loop.
  if (c.polled) {
    EXPECT_NEAR(waits, static_cast<int>(frames / period - kPeriods), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, DacPacingTest,
    ::testing::Values(PacingCase{"Pcm16At48k", SND_PCM_FORMAT_S16_LE, 48000, false},
                      PacingCase{"Dsd64AsU32", SND_PCM_FORMAT_DSD_U32_BE, 88200, false},
                      PacingCase{"Pcm24At44k1Polled", SND_PCM_FORMAT_S24_3LE, 44100, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TestSoundCardTest, TakesExactlyTheListedFormatsAndRates) {
  const struct {
    snd_pcm_format_t format;
    unsigned rate;
    bool listed;
  } offers[] = {
      {SND_PCM_FORMAT_S16_LE, 44100, true},      {SND_PCM_FORMAT_DSD_U32_BE, 88200, true},
      {SND_PCM_FORMAT_S32_LE, 48000, false},     {SND_PCM_FORMAT_DSD_U8, 48000, false},
      {SND_PCM_FORMAT_DSD_U32_LE, 48000, false}, {SND_PCM_FORMAT_S24_3LE, 96000, false},
      {SND_PCM_FORMAT_S16_LE, 47999, false},
  };
  Pcm pcm;
  ASSERT_EQ(pcm.open(kDac), 0);
  for (const auto& offer : offers) {
    SCOPED_TRACE(std::string(snd_pcm_format_name(offer.format)) + " " + std::to_string(offer.rate));
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    ASSERT_GE(snd_pcm_hw_params_any(pcm.handle, hw), 0);
    const int format = snd_pcm_hw_params_set_format(pcm.handle, hw, offer.format);
    const int rate = snd_pcm_hw_params_set_rate(pcm.handle, hw, offer.rate, 0);
    EXPECT_EQ(format == 0 && rate == 0, offer.listed);
  }
}

TEST_F(TestSoundCardTest, AStallLongerThanTheBufferUnderrunsAndPlaybackStartsAgainAfterRecovery) {
  constexpr snd_pcm_uframes_t kPeriod = 960;  // 20 ms; the buffer holds 80 ms
  Pcm pcm;
  ASSERT_EQ(pcm.open(kDac), 0);
  ASSERT_EQ(setUp(pcm.handle, SND_PCM_FORMAT_S16_LE, 48000, kPeriod, 4), 0);
  const std::vector<uint8_t> before = audio(10 * kPeriod * 4);
  ASSERT_GE(play(pcm.handle, before, kPeriod), 0);

  card.stall(kDac, 200);
  snd_pcm_sframes_t result = 0;
  size_t accepted = before.size();
  for (int i = 0; i < 20 && result >= 0; ++i) {
    result = snd_pcm_writei(pcm.handle, before.data(), kPeriod);
    if (result > 0) accepted += static_cast<size_t>(result) * 4;
  }
  EXPECT_EQ(result, -EPIPE);
  EXPECT_EQ(snd_pcm_state(pcm.handle), SND_PCM_STATE_XRUN);

  ASSERT_EQ(snd_pcm_recover(pcm.handle, static_cast<int>(result), 1), 0);
  const std::vector<uint8_t> after = audio(5 * kPeriod * 4);
  ASSERT_GE(play(pcm.handle, after, kPeriod), 0);
  EXPECT_EQ(snd_pcm_drain(pcm.handle), 0);
  EXPECT_EQ(card.captured(kDac).size(), accepted + after.size());
}

TEST_F(TestSoundCardTest, AnUnpluggedDeviceFailsEveryCallUntilItIsBack) {
  constexpr snd_pcm_uframes_t kPeriod = 960;
  Pcm pcm;
  ASSERT_EQ(pcm.open(kDac), 0);
  ASSERT_EQ(setUp(pcm.handle, SND_PCM_FORMAT_S16_LE, 48000, kPeriod, 4), 0);
  const std::vector<uint8_t> data = audio(6 * kPeriod * 4);
  ASSERT_GE(play(pcm.handle, data, kPeriod), 0);

  card.vanish(kDac);
  EXPECT_EQ(pollOnce(pcm.handle) & POLLERR, POLLERR);
  EXPECT_EQ(snd_pcm_writei(pcm.handle, data.data(), kPeriod), -ENODEV);
  EXPECT_EQ(snd_pcm_state(pcm.handle), SND_PCM_STATE_DISCONNECTED);
  EXPECT_EQ(snd_pcm_prepare(pcm.handle), -ENODEV);
  Pcm again;
  EXPECT_EQ(again.open(kDac), -ENODEV);

  card.comeBack(kDac);
  EXPECT_EQ(again.open(kDac), 0);
}

TEST_F(TestSoundCardTest, ABusyDeviceRefusesToOpenUntilReleased) {
  card.busy(kDac, true);
  Pcm refused;
  EXPECT_EQ(refused.open(kDac), -EBUSY);
  card.busy(kDac, false);
  Pcm opened;
  EXPECT_EQ(opened.open(kDac), 0);
}

std::vector<std::string> namedPcms() {
  void** hints = nullptr;
  std::vector<std::string> named;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) return named;
  for (void** hint = hints; *hint; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* description = snd_device_name_get_hint(*hint, "DESC");
    named.push_back(std::string(name ? name : "") + "|" + (description ? description : ""));
    free(name);
    free(description);
  }
  snd_device_name_free_hint(hints);
  return named;
}

TEST(TestSoundCardSequenceTest, EachCardIsAllThatAlsaSeesAndTheNextOneReplacesIt) {
  const char* const configPathBefore = std::getenv("ALSA_CONFIG_PATH");
  const std::string names[] = {"first_dac", "second_dac"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    TempDir dir;
    TestSoundCard card(dir.path(), {{name, "S16_LE", "48000", "The " + name}});
    EXPECT_THAT(namedPcms(), ::testing::ElementsAre(name + "|The " + name));
    Pcm other;
    EXPECT_LT(other.open(name == names[0] ? names[1] : names[0]), 0);
    Pcm pcm;
    ASSERT_EQ(pcm.open(name), 0);
    ASSERT_EQ(setUp(pcm.handle, SND_PCM_FORMAT_S16_LE, 48000, 480, 4), 0);
    const std::vector<uint8_t> data = audio(4800 * 4);
    ASSERT_GE(play(pcm.handle, data, 480), 0);
    ASSERT_EQ(snd_pcm_drain(pcm.handle), 0);
    EXPECT_EQ(card.captured(name), data);
  }
  EXPECT_EQ(std::getenv("ALSA_CONFIG_PATH"), configPathBefore);
}

}  // namespace
}  // namespace tavro::testing

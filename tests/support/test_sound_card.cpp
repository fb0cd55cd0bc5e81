#include "support/test_sound_card.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace tavro::testing {
namespace {

constexpr const char* kConfigPathVariable = "ALSA_CONFIG_PATH";

void touch(const std::filesystem::path& file) { std::ofstream(file).close(); }

}  // namespace

TestSoundCard::TestSoundCard(const std::filesystem::path& dir, const std::vector<TestPcm>& pcms)
    : dir_(std::filesystem::absolute(dir)), config_(dir_ / "asound.conf") {
  std::ofstream out(config_);
  // The file replaces alsa.conf entirely, and alsa-lib needs none of its
  // defaults to open these devices or list their hints. ctl.hw is there for a
  // machine with real cards: the hints walk them, and without it the whole
  // listing fails.
  out << "ctl.hw {\n"
         "  @args [ CARD ]\n"
         "  @args.CARD { type string default \"0\" }\n"
         "  type hw\n"
         "  card $CARD\n"
         "}\n"
         "pcm_type.tavrotest { lib \""
      << TAVRO_ALSA_TEST_PLUGIN << "\" }\n";
  for (const TestPcm& pcm : pcms) {
    std::filesystem::create_directories(controlDir(pcm.name));
    out << "pcm." << pcm.name << " {\n"
        << "  type tavrotest\n"
        << "  capture \"" << captureFile(pcm.name).string() << "\"\n"
        << "  control \"" << controlDir(pcm.name).string() << "\"\n"
        << "  formats \"" << pcm.formats << "\"\n"
        << "  rates \"" << pcm.rates << "\"\n"
        << "  hint { show on description \"" << pcm.description << "\" }\n"
        << "}\n";
  }
  out.close();
  if (const char* previous = std::getenv(kConfigPathVariable)) previousConfigPath_ = previous;
  setEnv(kConfigPathVariable, config_.string());
  snd_config_update_free_global();
}

TestSoundCard::~TestSoundCard() {
  if (previousConfigPath_) {
    setEnv(kConfigPathVariable, *previousConfigPath_);
  } else {
    unsetEnv(kConfigPathVariable);
  }
  snd_config_update_free_global();
}

std::vector<uint8_t> TestSoundCard::captured(const std::string& pcm) const {
  std::ifstream in(captureFile(pcm), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void TestSoundCard::stall(const std::string& pcm, int ms) const {
  // Renamed into place, so the device never reads half a number.
  const auto pending = controlDir(pcm) / "stall.pending";
  std::ofstream(pending) << ms;
  std::filesystem::rename(pending, controlDir(pcm) / "stall");
}

void TestSoundCard::vanish(const std::string& pcm) const { touch(controlDir(pcm) / "vanish"); }

void TestSoundCard::comeBack(const std::string& pcm) const {
  std::filesystem::remove(controlDir(pcm) / "vanish");
}

void TestSoundCard::busy(const std::string& pcm, bool held) const {
  if (held) {
    touch(controlDir(pcm) / "busy");
  } else {
    std::filesystem::remove(controlDir(pcm) / "busy");
  }
}

std::filesystem::path TestSoundCard::captureFile(const std::string& pcm) const {
  return dir_ / (pcm + ".raw");
}

std::filesystem::path TestSoundCard::controlDir(const std::string& pcm) const {
  return dir_ / (pcm + ".control");
}

}  // namespace tavro::testing

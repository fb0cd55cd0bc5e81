// What `tavro-sink --list-devices` shows for DACs whose formats and rates are
// known exactly: the test sound card's devices.
#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sink/output/device_list.h"
#include "support/temp_dir.h"
#include "support/test_sound_card.h"

namespace tavro::testing {
namespace {

struct ListedDevice {
  TestPcm pcm;
  bool busy;
  std::vector<std::string> block;  // the lines listed for it, in order
};

TEST(DeviceList, ShowsExactlyWhatEachDeviceTakesAndABusyOneAsBusy) {
  const std::vector<ListedDevice> table = {
      {{"tavro_s32", "S32_LE", "44100 48000", "Only S32"},
       false,
       {"tavro_s32  \"Only S32\"", "  PCM: S32_LE at 44100 48000", "  DSD native: none"}},
      {{"tavro_pcm_and_dsd", "S16_LE S24_3LE DSD_U32_BE", "88200 176400", "PCM and DSD"},
       false,
       {"tavro_pcm_and_dsd  \"PCM and DSD\"", "  PCM: S16_LE S24_3LE at 88200 176400",
        "  DSD native: DSD_U32_BE at DSD64 DSD128"}},
      {{"tavro_held", "S24_3LE", "96000", "Held"},
       true,
       {"tavro_held  \"Held\"", "  busy: another program has it open"}},
  };
  std::vector<TestPcm> pcms;
  std::vector<std::string> expected;
  for (const ListedDevice& device : table) {
    pcms.push_back(device.pcm);
    expected.insert(expected.end(), device.block.begin(), device.block.end());
  }
  TempDir dir;
  TestSoundCard card(dir.path(), pcms);
  for (const ListedDevice& device : table) {
    if (device.busy) card.busy(device.pcm.name, true);
  }

  std::vector<std::string> printed;
  sink::listDevices([&](const std::string& line) { printed.push_back(line); });
  // A machine's own sound cards come first.
  const auto ours = std::find(printed.begin(), printed.end(), expected.front());
  EXPECT_THAT(std::vector(ours, printed.end()), ::testing::ElementsAreArray(expected));
}

}  // namespace
}  // namespace tavro::testing

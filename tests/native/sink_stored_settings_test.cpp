// The streamer's stored settings under its command line: what each stored
// value does to the options a connection is served with, and the bounded
// log file it keeps where it has no console.
#include <gmock/gmock.h>

#include <map>

#include "sink/app/program_log.h"
#include "sink/app/sink_arguments.h"
#include "sink/app/stored_options.h"
#include "support/temp_dir.h"

namespace tavro::testing {
namespace {

using sink::DsdOutput;
using Kind = sink::os::StoredValue::Kind;

class FakeStore final : public sink::os::StoredSettings {
 public:
  std::map<std::string, sink::os::StoredValue> values;
  sink::os::StoredValue read(const char* name) const override {
    const auto found = values.find(name);
    return found == values.end() ? sink::os::StoredValue{} : found->second;
  }
};

sink::os::StoredValue number(uint32_t n) { return {Kind::kNumber, n, {}}; }
sink::os::StoredValue text(const char* t) { return {Kind::kText, 0, t}; }
sink::os::StoredValue other() { return {Kind::kOther, 0, {}}; }

struct Expected {
  std::string device;
  uint32_t transport = 1;
  uint32_t wordLength = 24;
  uint32_t bufferIndex = 6;
  uint32_t bufferPackets = 4;
  DsdOutput dsd = DsdOutput::kDop;
};

struct StoredCase {
  const char* name;
  std::vector<std::string> arguments;
  std::map<std::string, sink::os::StoredValue> stored;
  Expected expected;
  size_t ignored = 0;
};

const StoredCase kCases[] = {
    {"NothingStored", {}, {}, {}},
    {"EveryValueApplies",
     {},
     {{"Device", text("ASIO: My DAC")},
      {"Transport", number(2)},
      {"WordLength", number(16)},
      {"BufferIndex", number(0)},
      {"BufferPackets", number(32)},
      {"DsdMode", text("native")}},
     {"ASIO: My DAC", 2, 16, 0, 32, DsdOutput::kNative}},
    // TAVRO Settings stores an empty device for "none of its own".
    {"EmptyDeviceIsNone",
     {},
     {{"Device", text("")}, {"DsdMode", text("auto")}},
     {"", 1, 24, 6, 4, DsdOutput::kAuto}},
    // Given on the command line, even as the default, a setting stays.
    {"CommandLineWins",
     {"--device", "hw:CARD=D10", "--transport", "1", "--word-length", "24", "--buffer-index", "6",
      "--buffer-packets", "4", "--dsd", "dop"},
     {{"Device", text("ASIO: My DAC")},
      {"Transport", number(2)},
      {"WordLength", number(32)},
      {"BufferIndex", number(2)},
      {"BufferPackets", number(8)},
      {"DsdMode", text("native")}},
     {"hw:CARD=D10", 1, 24, 6, 4, DsdOutput::kDop}},
    {"OneGivenTheRestStored",
     {"--word-length", "32"},
     {{"Transport", number(2)}, {"WordLength", number(16)}},
     {"", 2, 32, 6, 4, DsdOutput::kDop}},
    {"OutOfRangeIgnored",
     {},
     {{"Transport", number(3)},
      {"WordLength", number(20)},
      {"BufferIndex", number(10)},
      {"BufferPackets", number(1)},
      {"DsdMode", text("DoP")}},
     {},
     5},
    {"WrongKindIgnored",
     {},
     {{"Device", number(1)}, {"Transport", text("2")}, {"WordLength", other()}},
     {},
     3},
    {"GoodKeptBesideBad",
     {},
     {{"Transport", number(2)}, {"BufferPackets", number(33)}},
     {"", 2, 24, 6, 4, DsdOutput::kDop},
     1},
};

class StoredSettingsTest : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredSettingsTest, CommandLineThenStore) {
  const StoredCase& c = GetParam();
  std::vector<std::string> words = {"tavro-sink"};
  words.insert(words.end(), c.arguments.begin(), c.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  sink::SinkOptions given;
  sink::CommandLineChoices chosen;
  std::string error;
  ASSERT_TRUE(
      sink::parseArguments(static_cast<int>(argv.size()), argv.data(), given, error, &chosen))
      << error;
  FakeStore store;
  store.values = c.stored;
  std::vector<std::string> ignored;
  const sink::SinkOptions options = sink::withStoredSettings(given, chosen, store, ignored);
  EXPECT_EQ(options.device, c.expected.device);
  EXPECT_EQ(options.transport, c.expected.transport);
  EXPECT_EQ(options.wordLength, c.expected.wordLength);
  EXPECT_EQ(options.bufferIndex, c.expected.bufferIndex);
  EXPECT_EQ(options.bufferPackets, c.expected.bufferPackets);
  EXPECT_EQ(options.dsd, c.expected.dsd);
  EXPECT_EQ(ignored.size(), c.ignored) << ::testing::PrintToString(ignored);
  // Each line names the setting it ignores.
  for (const std::string& line : ignored)
    EXPECT_THAT(line, ::testing::StartsWith("ignoring the stored setting "));
  // What the store cannot hold is the command line's alone.
  EXPECT_EQ(options.address, given.address);
  EXPECT_EQ(options.port, given.port);
}

INSTANTIATE_TEST_SUITE_P(Table, StoredSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Read at every connection, a change applies at the next one; a bad value is
// told once, not at every connection, and again once it has been put right
// and broken anew.
TEST(StoredOptionsTest, TellsChangesOnce) {
  auto owned = std::make_unique<FakeStore>();
  FakeStore& store = *owned;
  sink::StoredOptions stored(std::move(owned), {});
  std::vector<std::string> lines;
  const auto print = [&](const std::string& line) { lines.push_back(line); };
  const sink::SinkOptions given;

  store.values = {{"WordLength", number(16)}, {"Transport", text("udp")}};
  EXPECT_EQ(stored.next(given, print).wordLength, 16u);
  EXPECT_EQ(stored.next(given, print).wordLength, 16u);
  store.values["WordLength"] = number(32);
  EXPECT_EQ(stored.next(given, print).wordLength, 32u);
  store.values["Transport"] = number(2);
  EXPECT_EQ(stored.next(given, print).transport, 2u);
  store.values["Transport"] = text("udp");
  EXPECT_EQ(stored.next(given, print).transport, 1u);
  const auto told = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with("ignoring the stored setting Transport");
  });
  EXPECT_EQ(told, 2) << ::testing::PrintToString(lines);
}

// Past its limit the log moves aside whole, replacing the older one, and the
// newest lines are always in the file itself.
TEST(ProgramLogTest, KeepsTheLastPartBounded) {
  TempDir dir;
  const std::string path = (dir / "tavro-sink.log").string();
  {
    sink::ProgramLog log(path, 1000);
    for (int i = 0; i < 100; ++i) log.say("line " + std::to_string(i));
  }
  const std::vector<std::string> current = readLines(path);
  const std::vector<std::string> older = readLines(path + ".1");
  ASSERT_FALSE(current.empty());
  ASSERT_FALSE(older.empty());
  EXPECT_THAT(current.back(), ::testing::EndsWith("  line 99"));
  EXPECT_LE(std::filesystem::file_size(path), 1000u);
  EXPECT_LE(std::filesystem::file_size(path + ".1"), 1000u);
  // Nothing between the two files is lost.
  const std::string lastOlder = older.back().substr(older.back().rfind(' ') + 1);
  const std::string firstCurrent = current.front().substr(current.front().rfind(' ') + 1);
  EXPECT_EQ(std::stoi(firstCurrent), std::stoi(lastOlder) + 1);
  // A sink started again adds to the file it left.
  {
    sink::ProgramLog log(path, 1000);
    log.say("again");
  }
  EXPECT_THAT(readLines(path).back(), ::testing::EndsWith("  again"));
}

}  // namespace
}  // namespace tavro::testing

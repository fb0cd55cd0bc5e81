// Reading the streamer's settings and interface replies, which come from the
// network: their shapes, their limits and hostile input.
#include "control/settings_reply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "control/wire_frame.h"

namespace tavro::control {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Every field starts at a value no reply below would give it, so that a test
// sees which ones the reply set.
constexpr uint32_t kUntouched = 0xAAAA;

struct Parsed {
  uint32_t bufferSizeIndex = kUntouched;
  StreamerSettings settings{kUntouched, kUntouched, kUntouched, kUntouched,
                            kUntouched, {},         kUntouched, kUntouched};
};

Parsed parse(std::u16string_view text) {
  Parsed parsed;
  applySettingsReply(text, parsed.bufferSizeIndex, parsed.settings);
  return parsed;
}

struct SettingsCase {
  const char* name;
  std::u16string reply;
  // bufferSizeIndex, transport, interfaceIndex, wordLength, shift, spare, drive
  uint32_t expected[7];
};

void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

class SettingsReplyTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsReplyTest, FillsTheFieldsItReadsAndKeepsTheRest) {
  const SettingsCase& c = GetParam();
  const Parsed p = parse(c.reply);
  const uint32_t actual[7] = {p.bufferSizeIndex,         p.settings.transportMode,
                              p.settings.interfaceIndex, p.settings.wordLength,
                              p.settings.sampleShift,    p.settings.spareSetting,
                              p.settings.driveMode};
  EXPECT_THAT(actual, ::testing::ElementsAreArray(c.expected));
  EXPECT_EQ(p.settings.invertPolarity, 0u);
}

constexpr uint32_t K = kUntouched;

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsReplyTest,
    ::testing::Values(
        SettingsCase{
            "Complete", u"sget a b c d 3 t 2 i 1 w 16 s 4 x 5 p 1 d 7", {3, 2, 1, 16, 4, 5, 7}},
        SettingsCase{"IndexTwelveFallsBackToSix",
                     u"sget a b c d 12 t 1 i 0 w 24 s 0 x 0 p 0 d 0",
                     {6, 1, 0, 24, 0, 0, 0}},
        SettingsCase{"IndexNineStays",
                     u"sget a b c d 9 t 1 i 0 w 24 s 0 x 0 p 0 d 0",
                     {9, 1, 0, 24, 0, 0, 0}},
        SettingsCase{
            "NegativeIndexWrapsAndFallsBack", u"sget a b c d -1 t 1", {6, 1, K, K, K, K, K}},
        SettingsCase{"EndsAfterTheSecondNumber", u"sget a b c d 2 t 2", {2, 2, K, K, K, K, K}},
        // The untouched index is past the table, so even an unread one falls back.
        SettingsCase{"NoNumbersAtAll", u"sget a b c d", {6, K, K, K, K, K, K}},
        SettingsCase{"Empty", u"", {6, K, K, K, K, K, K}},
        SettingsCase{
            "ANumberThatIsAWordStopsThere", u"sget a b c d 4 t two i 1", {4, K, K, K, K, K, K}},
        SettingsCase{"SignWithoutDigitsStops", u"sget a b c d 4 t - i 1", {4, K, K, K, K, K, K}},
        SettingsCase{
            "NegativeWrapsModulo2To32", u"sget a b c d 1 t -2", {1, 0xFFFFFFFEu, K, K, K, K, K}},
        SettingsCase{"HugeWrapsModulo2To32", u"sget a b c d 1 t 4294967298", {1, 2, K, K, K, K, K}},
        SettingsCase{"PlusSignIsRead", u"sget a b c d +5 t +2", {5, 2, K, K, K, K, K}},
        SettingsCase{
            "AnyWhiteSpaceSeparates", u"sget\ta\nb\r\nc\vd \f 1\t\tt 2", {1, 2, K, K, K, K, K}},
        SettingsCase{"DigitsEndAtTheFirstOtherUnit", u"sget a b c d 3x t 2", {3, K, K, K, K, K, K}},
        // The word after a number may follow it without a space, as scanf reads.
        SettingsCase{"WordGluedToANumber", u"sget a b c d 3t 2 i 1", {3, 2, 1, K, K, K, K}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsReply, NeverInvertsPolarityWhateverTheStreamerSays) {
  EXPECT_EQ(parse(u"sget a b c d 1 t 1 i 0 w 24 s 0 x 0 p 1 d 0").settings.invertPolarity, 0u);
}

TEST(SettingsReply, WordsLongerThanAnyScratchSpaceAreSkippedWhole) {
  std::u16string reply = u"s" + std::u16string(510, u'w');
  const Parsed only = parse(reply);
  EXPECT_EQ(only.settings.transportMode, kUntouched);

  reply = u"s" + std::u16string(300, u'w') + u" b c d " + std::u16string(300, u'e') + u" 4 " +
          std::u16string(400, u't') + u" 2";
  const Parsed p = parse(reply);
  EXPECT_EQ(p.bufferSizeIndex, 4u);
  EXPECT_EQ(p.settings.transportMode, 2u);
}

struct InterfaceCase {
  const char* name;
  std::u16string reply;
  uint32_t interfaceIndex;
  std::vector<std::u16string> interfaces;
  uint32_t expectedIndex;
  uint32_t expectedWordLength;  // starts at 16
};

void PrintTo(const InterfaceCase& c, std::ostream* out) { *out << c.name; }

class InterfaceReplyTest : public ::testing::TestWithParam<InterfaceCase> {};

TEST_P(InterfaceReplyTest, SplitsLinesChoosesAnInterfaceAndItsWordLength) {
  const InterfaceCase& c = GetParam();
  StreamerSettings settings;
  settings.interfaces = {u"left over"};
  settings.interfaceIndex = c.interfaceIndex;
  settings.wordLength = 16;
  ASSERT_TRUE(applyInterfaceReply(c.reply, settings));
  EXPECT_EQ(settings.interfaces, c.interfaces);
  EXPECT_EQ(settings.interfaceIndex, c.expectedIndex);
  EXPECT_EQ(settings.wordLength, c.expectedWordLength);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterfaceReplyTest,
    ::testing::Values(
        InterfaceCase{"ThreeLines", u"sA\nB\nC\n", 1, {u"sA", u"B", u"C"}, 1, 16},
        InterfaceCase{"AsioInterfaceChosen",
                      u"sA\nASIO: Fireface\nC\n",
                      1,
                      {u"sA", u"ASIO: Fireface", u"C"},
                      1,
                      32},
        InterfaceCase{
            "AsioInTheMiddleOfTheName", u"sA\nMy ASIO: box\n", 1, {u"sA", u"My ASIO: box"}, 1, 32},
        InterfaceCase{
            "AsioInAnotherLineDoesNotCount", u"sA\nASIO: x\n", 0, {u"sA", u"ASIO: x"}, 0, 16},
        InterfaceCase{"AsioIsCaseSensitive", u"sA\nasio: x\n", 1, {u"sA", u"asio: x"}, 1, 16},
        InterfaceCase{"LastLineWithoutNewlineIsDropped", u"sA\nB\nC", 0, {u"sA", u"B"}, 0, 16},
        InterfaceCase{"NoNewlineGivesNoInterfaces", u"sA", 3, {}, 0, 16},
        InterfaceCase{"EmptyLinesAreEntries", u"s\n\n\n", 2, {u"s", u"", u""}, 2, 16},
        InterfaceCase{"CarriageReturnStaysInTheName", u"sA\r\nB\r\n", 1, {u"sA\r", u"B\r"}, 1, 16},
        InterfaceCase{"IndexEqualToTheCountFallsBackToTheFirst",
                      u"sASIO: A\nB\n",
                      2,
                      {u"sASIO: A", u"B"},
                      0,
                      32},
        InterfaceCase{
            "IndexFarOutFallsBackToTheFirst", u"sA\nB\n", 0xFFFFFFFF, {u"sA", u"B"}, 0, 16}),
    [](const auto& info) { return std::string(info.param.name); });

// Frames as a broken or hostile streamer might send them: random units, no
// NUL anywhere, every kind of separator. Nothing may crash or read past the
// frame (the sanitizer builds check the latter), and every index that comes
// out must point into the list.
TEST(SettingsReply, SurvivesRandomFramesWithoutNul) {
  std::mt19937 random(48168);
  const char16_t alphabet[] = {u's', u'1', u'9', u'-', u'+', u' ',  u'\n',  u'\t', u'A',
                               u'S', u'I', u'O', u':', u'0', u'\r', 0xFFFF, 0xD800};
  for (int round = 0; round < 2000; ++round) {
    WireFrame frame;
    for (size_t i = 0; i < kFrameUnits; ++i) {
      const char16_t unit = round % 2 == 0 ? alphabet[random() % std::size(alphabet)]
                                           : static_cast<char16_t>(1 + random() % 0xFFFF);
      frame.setUnit(i, unit);
    }
    const FrameText text(frame);
    ASSERT_EQ(text.view().size(), kFrameUnits);
    uint32_t index = 0;
    StreamerSettings settings;
    applySettingsReply(text.view(), index, settings);
    EXPECT_LT(index, 10u);
    ASSERT_TRUE(applyInterfaceReply(text.view(), settings));
    if (!settings.interfaces.empty()) {
      EXPECT_LT(settings.interfaceIndex, settings.interfaces.size());
    }
  }
}

}  // namespace
}  // namespace tavro::control

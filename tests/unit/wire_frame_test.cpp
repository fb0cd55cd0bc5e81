// The control frame: its byte layout on the wire, its limits, and the reply
// classification of the format announcement.
#include "control/wire_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "control/format_announcement.h"
#include "control/streamer_host.h"

namespace tavro::control {
namespace {

TEST(WireFrame, TextGoesOutAsLittleEndianUnitsEndingWithNul) {
  WireFrame frame;
  frame.bytes.fill(0xEE);
  ASSERT_TRUE(writeFrameText(frame, "sget*"));
  const uint8_t expected[] = {'s', 0, 'g', 0, 'e', 0, 't', 0, '*', 0, 0, 0};
  for (size_t i = 0; i < sizeof expected; ++i) EXPECT_EQ(frame.bytes[i], expected[i]) << i;
  // What an earlier frame left after the NUL stays; the receiver ignores it.
  EXPECT_EQ(frame.bytes[12], 0xEE);
  EXPECT_EQ(frame.bytes[kFrameBytes - 1], 0xEE);
}

TEST(WireFrame, ReadsUnitsInLittleEndianOrder) {
  WireFrame frame;
  frame.bytes[0] = 0x34;
  frame.bytes[1] = 0x12;
  EXPECT_EQ(frame.unit(0), u'\x1234');
  frame.setUnit(1, u'\xABCD');
  EXPECT_EQ(frame.bytes[2], 0xCD);
  EXPECT_EQ(frame.bytes[3], 0xAB);
}

TEST(WireFrame, TheLongestTextFitsAndOneUnitMoreIsRefusedUntouched) {
  WireFrame frame;
  ASSERT_TRUE(writeFrameText(frame, std::string(kMaxTextUnits, 'a')));
  EXPECT_EQ(frame.unit(kMaxTextUnits - 1), u'a');
  EXPECT_EQ(frame.unit(kMaxTextUnits), u'\0');

  frame.bytes.fill(0x11);
  EXPECT_FALSE(writeFrameText(frame, std::string(kMaxTextUnits + 1, 'b')));
  EXPECT_FALSE(formatFrame(frame, "%s", std::string(2000, 'c').c_str()));
  for (uint8_t byte : frame.bytes) ASSERT_EQ(byte, 0x11);
}

TEST(WireFrame, FormatsTheAnnouncementWithSignedNumbers) {
  WireFrame frame;
  ASSERT_TRUE(formatFrame(frame, kAnnouncementFormat, 44100, 16, 1024, 4096));
  EXPECT_EQ(FrameText(frame).view(),
            u"+ SampleRate 44100 Bits 16 PacketSize 1024 DatagramSize 4096");
  ASSERT_TRUE(formatFrame(frame, kAnnouncementFormat, -1, 24, 2147483647, -2147483647 - 1));
  EXPECT_EQ(FrameText(frame).view(),
            u"+ SampleRate -1 Bits 24 PacketSize 2147483647 DatagramSize -2147483648");
}

TEST(WireFrame, ATextWithoutNulIsTheWholeFrame) {
  WireFrame frame;
  for (size_t i = 0; i < kFrameUnits; ++i) frame.setUnit(i, u'z');
  EXPECT_EQ(FrameText(frame).view().size(), kFrameUnits);
  frame.setUnit(3, u'\0');
  EXPECT_EQ(FrameText(frame).view(), u"zzz");
}

struct ReplyCase {
  std::u16string reply;
  AnnouncementReply expected;
};

class AnnouncementReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(AnnouncementReplyTest, AcceptsOnlyExactlyOkAndKnowsTheThreeRefusals) {
  EXPECT_EQ(classifyAnnouncementReply(GetParam().reply), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, AnnouncementReplyTest,
                         ::testing::Values(ReplyCase{u"+OK", AnnouncementReply::kAccepted},
                                           ReplyCase{u"ERROR 1", AnnouncementReply::kRefused1},
                                           ReplyCase{u"ERROR 2", AnnouncementReply::kRefused2},
                                           ReplyCase{u"ERROR 3", AnnouncementReply::kRefused3},
                                           ReplyCase{u"ERROR 4", AnnouncementReply::kUnexpected},
                                           ReplyCase{u"ERROR 0", AnnouncementReply::kUnexpected},
                                           ReplyCase{u"ERROR 12", AnnouncementReply::kUnexpected},
                                           ReplyCase{u"+OK then more",
                                                     AnnouncementReply::kUnexpected},
                                           ReplyCase{u"+ok", AnnouncementReply::kUnexpected},
                                           ReplyCase{u"OK", AnnouncementReply::kUnexpected},
                                           ReplyCase{u"", AnnouncementReply::kUnexpected}));

struct SinglePcText {
  const char* text;
  int32_t number;
  bool selects;
};

class SinglePcSettingTest : public ::testing::TestWithParam<SinglePcText> {};

TEST_P(SinglePcSettingTest, ReadsLikeAtoiAndComparesTheLowEightBits) {
  EXPECT_EQ(leadingInteger(GetParam().text), GetParam().number);
  EXPECT_EQ(selectsSinglePc(GetParam().text), GetParam().selects);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SinglePcSettingTest,
    ::testing::Values(SinglePcText{"1", 1, true}, SinglePcText{" \t\n1", 1, true},
                      SinglePcText{"1abc", 1, true}, SinglePcText{"+1", 1, true},
                      SinglePcText{"257", 257, true}, SinglePcText{"-255", -255, true},
                      SinglePcText{"0", 0, false}, SinglePcText{"", 0, false},
                      SinglePcText{"abc", 0, false}, SinglePcText{"- 1", 0, false},
                      SinglePcText{"2", 2, false}, SinglePcText{"99999999999", 2147483647, false},
                      SinglePcText{"-99999999999", -2147483647 - 1, false}));

}  // namespace
}  // namespace tavro::control

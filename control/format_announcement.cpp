#include "control/format_announcement.h"

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "control/wire_frame.h"
#include "platform/log.h"

namespace tavro::control {

AnnouncementReply classifyAnnouncementReply(std::u16string_view reply) noexcept {
  if (reply == u"+OK") return AnnouncementReply::kAccepted;
  if (reply == u"ERROR 1") return AnnouncementReply::kRefused1;
  if (reply == u"ERROR 2") return AnnouncementReply::kRefused2;
  if (reply == u"ERROR 3") return AnnouncementReply::kRefused3;
  return AnnouncementReply::kUnexpected;
}

namespace {

// The reply as the log shows it: ASCII, anything else as '?'.
void logReply(std::u16string_view reply) noexcept {
  if (!platform::log::enabled()) return;
  char text[64];
  size_t length = 0;
  for (char16_t unit : reply) {
    if (length + 1 >= sizeof text) break;
    text[length++] = unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
  text[length] = '\0';
  platform::log::line("announcement reply: \"%s\"", text);
}

}  // namespace

Outcome announceFormat(Connection& connection, const AnnouncedFormat& format) noexcept {
  platform::log::line("announcement: rate %d, bits %d, packet size %d, datagram size %d",
                      static_cast<int>(format.sampleRate), static_cast<int>(format.bits),
                      static_cast<int>(format.packetSize), static_cast<int>(format.datagramSize));
  if (!sendFrame(connection, kAnnouncementFormat, format.sampleRate, format.bits, format.packetSize,
                 format.datagramSize)) {
    connection.close();
    return failed(errors::kCannotSendToStreamer);
  }
  if (!receiveFrame(connection)) {
    connection.close();
    return failed(errors::kNoResponse);
  }

  logReply(FrameText(connection.frame()).view());
  Notification refusal = Notification::kNone;
  switch (classifyAnnouncementReply(FrameText(connection.frame()).view())) {
    case AnnouncementReply::kAccepted:
      return kSucceeded;
    case AnnouncementReply::kRefused1:
      refusal = Notification::kStreamerRefused1;
      break;
    case AnnouncementReply::kRefused2:
      refusal = Notification::kStreamerRefused2;
      break;
    case AnnouncementReply::kRefused3:
      refusal = Notification::kStreamerRefused3;
      break;
    case AnnouncementReply::kUnexpected:
      break;
  }
  connection.close();
  return failed(errors::kNoResponse, refusal);
}

}  // namespace tavro::control

#include "control/format_announcement.h"

#include "control/control_connection.h"
#include "control/wire_frame.h"
#include "driver/driver_log.h"
#include "driver/error_texts.h"
#include "driver/vantrel.h"

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
  if (!driver::log::enabled()) return;
  char text[64];
  size_t length = 0;
  for (char16_t unit : reply) {
    if (length + 1 >= sizeof text) break;
    text[length++] = unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
  text[length] = '\0';
  driver::log::line("announcement reply: \"%s\"", text);
}

}  // namespace

asio::AsioError announceFormat(driver::Vantrel& driver, const AnnouncedFormat& format) noexcept {
  driver::log::line("announcement: rate %d, bits %d, packet size %d, datagram size %d",
                    static_cast<int>(format.sampleRate), static_cast<int>(format.bits),
                    static_cast<int>(format.packetSize), static_cast<int>(format.datagramSize));
  if (!sendFrame(kAnnouncementFormat, format.sampleRate, format.bits, format.packetSize,
                 format.datagramSize)) {
    driver.setErrorText(driver::errors::kCannotSendToStreamer);
    closeControlConnection();
    return asio::kAseNotPresent;
  }
  if (!receiveFrame()) {
    driver.setErrorText(driver::errors::kNoResponse);
    closeControlConnection();
    return asio::kAseNotPresent;
  }

  logReply(FrameText(frameBuffer()).view());
  switch (classifyAnnouncementReply(FrameText(frameBuffer()).view())) {
    case AnnouncementReply::kAccepted:
      return asio::kAseOk;
    case AnnouncementReply::kRefused1:
      driver.setErrorText(driver::errors::kNoResponse);
      driver.notify(driver::Notification::kStreamerRefused1);
      break;
    case AnnouncementReply::kRefused2:
      driver.setErrorText(driver::errors::kNoResponse);
      driver.notify(driver::Notification::kStreamerRefused2);
      break;
    case AnnouncementReply::kRefused3:
      driver.setErrorText(driver::errors::kNoResponse);
      driver.notify(driver::Notification::kStreamerRefused3);
      break;
    case AnnouncementReply::kUnexpected:
      driver.setErrorText(driver::errors::kNoResponse);
      break;
  }
  closeControlConnection();
  return asio::kAseNotPresent;
}

}  // namespace tavro::control

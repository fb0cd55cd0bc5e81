#include "sink/network/control_frame.h"

#include <cstring>

#include "sink/network/text16.h"

namespace tavro::sink {

const char* stepName(Step step) {
  switch (step) {
    case Step::kGreeting:
      return "greeting";
    case Step::kSettings:
      return "settings";
    case Step::kInterfaces:
      return "interfaces";
    case Step::kAnnouncement:
      return "announcement";
    case Step::kUnknown:
      break;
  }
  return "unknown";
}

Step classify(const std::u16string& text) {
  if (text == u"TAVROHello") return Step::kGreeting;
  if (text == u"sget*") return Step::kSettings;
  if (text == u"sgetAudioInterfaces") return Step::kInterfaces;
  if (text.rfind(u"+ SampleRate ", 0) == 0) return Step::kAnnouncement;
  return Step::kUnknown;
}

std::u16string decodeFrame(const uint8_t (&frame)[kFrameBytes]) {
  std::u16string text;
  for (size_t i = 0; i < kFrameUnits; ++i) {
    const auto unit = static_cast<char16_t>(frame[2 * i] | (frame[2 * i + 1] << 8));
    if (unit == u'\0') break;
    text.push_back(unit);
  }
  return text;
}

std::u16string encodeFrame(const std::string& reply, uint8_t (&frame)[kFrameBytes]) {
  std::u16string units = toUtf16(reply);
  if (units.size() > kFrameUnits - 1) units.resize(kFrameUnits - 1);
  std::memset(frame, 0, kFrameBytes);
  for (size_t i = 0; i < units.size(); ++i) {
    frame[2 * i] = static_cast<uint8_t>(units[i] & 0xFF);
    frame[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return units;
}

}  // namespace tavro::sink

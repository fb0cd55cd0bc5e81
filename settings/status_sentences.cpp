#include "settings/status_sentences.h"

#include <cstdio>

#include "control/outcome.h"

namespace tavro::settings {

std::string sentenceFor(uint32_t code) {
  using control::Notification;
  switch (static_cast<Notification>(code)) {
    case Notification::kStreamerRefused1:
      return "The streamer refused the stream: its sound card is absent or another program is "
             "playing to it.";
    case Notification::kStreamerRefused2:
      return "The streamer refused the stream: its sound card does not play this sample rate.";
    case Notification::kStreamerRefused3:
      return "The streamer refused the stream: its sound card does not take this sample format.";
    case Notification::kNoRemovableDrive:
      return "Drive mode is on, but no removable drive is present.";
    case Notification::kConnectFailed:
      return "The streamer could not be reached: is it running, and is its address right?";
    case Notification::kSetupFailed:
      return "The streamer did not answer the driver's settings query.";
    case Notification::kRequestQueueFailed:
      return "The stream could not be set up: Windows refused a Registered I/O queue.";
    case Notification::kNone:
      break;
  }
  return "The driver reported problem " + std::to_string(code) + ".";
}

namespace {

std::string timeOfDay(int hour, int minute, int second) {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d  ", hour % 100, minute % 100, second % 100);
  return time;
}

}  // namespace

std::string statusLine(uint32_t code, int hour, int minute, int second) {
  return timeOfDay(hour, minute, second) + sentenceFor(code);
}

std::string startedWellLine(int hour, int minute, int second) {
  return timeOfDay(hour, minute, second) + "A stream started well: no problem since.";
}

}  // namespace tavro::settings

#include "control/settings_query.h"

#include "control/settings_reply.h"
#include "control/wire_frame.h"

namespace tavro::control {
namespace {

// Put into the frame before each receive, so that a frame left over from an
// earlier exchange can never pass for the streamer's answer.
constexpr char16_t kNoReplyMarker = u'X';
constexpr char16_t kReplyMark = u's';

// A query that never left would be waited for forever: the receive has no
// time-out, and the streamer has nothing to answer.
bool ask(const char* query) noexcept {
  if (!sendFrame("%s", query)) return false;
  frameBuffer().setUnit(0, kNoReplyMarker);
  return receiveFrame() && frameBuffer().unit(0) == kReplyMark;
}

}  // namespace

bool queryStreamerSettings(uint32_t& bufferSizeIndex, StreamerSettings& settings) noexcept {
  if (!ask(kSettingsQuery)) return false;
  applySettingsReply(FrameText(frameBuffer()).view(), bufferSizeIndex, settings);

  if (!ask(kInterfacesQuery)) return false;
  return applyInterfaceReply(FrameText(frameBuffer()).view(), settings);
}

}  // namespace tavro::control

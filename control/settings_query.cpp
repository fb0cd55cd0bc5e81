#include "control/settings_query.h"

#include "control/control_connection.h"
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
bool ask(Connection& connection, const char* query) noexcept {
  if (!sendFrame(connection, "%s", query)) return false;
  connection.frame().setUnit(0, kNoReplyMarker);
  return receiveFrame(connection) && connection.frame().unit(0) == kReplyMark;
}

}  // namespace

bool queryStreamerSettings(Connection& connection, uint32_t& bufferSizeIndex,
                           StreamerSettings& settings) noexcept {
  if (!ask(connection, kSettingsQuery)) return false;
  applySettingsReply(FrameText(connection.frame()).view(), bufferSizeIndex, settings);

  if (!ask(connection, kInterfacesQuery)) return false;
  return applyInterfaceReply(FrameText(connection.frame()).view(), settings);
}

}  // namespace tavro::control

#pragma once
// The streamer on this PC as a program: tavro-sink.exe beside the settings
// program, started without a console window and ended again.
#include <string>

namespace tavro::settings {

inline constexpr wchar_t kLocalStreamerFileName[] = L"tavro-sink.exe";

// The streamer's full path: beside this program.
std::wstring localStreamerPath();

bool localStreamerExists();
// Processes running from exactly that path.
bool localStreamerRunning();
// False when it is not there or would not start.
bool startLocalStreamer();
// Ends every process running from that path; false when one would not end.
bool stopLocalStreamer();

}  // namespace tavro::settings

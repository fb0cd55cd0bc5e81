#pragma once
// alsa-lib prints its own messages to stderr, beside the sink's line on the
// same failure, and for each open of a missing device again. Taken over,
// they are the sink's: each thread keeps only its latest, for the line on
// the failure it explains, and the rest are dropped.
#include <string>

namespace tavro::sink {

// Process-wide and once; before other threads use alsa-lib.
void takeOverAlsaMessages();

// The calling thread's latest message since it last forgot: "" for none.
void forgetAlsaMessage();
std::string latestAlsaMessage();

}  // namespace tavro::sink

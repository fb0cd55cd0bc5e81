#include "sink/output/alsa/alsa_messages.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>

namespace tavro::sink {
namespace {

// A fixed buffer: alsa-lib calls in from C, where nothing may throw.
thread_local char latest[256];

}  // namespace

extern "C" {
static void keepAlsaMessage(const char* /*file*/, int /*line*/, const char* /*function*/,
                            int /*err*/, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(latest, sizeof latest, format, arguments);
  va_end(arguments);
  // The sink's lines stay one each.
  for (char* c = latest; *c != '\0'; ++c) {
    if (*c == '\n' || *c == '\r') *c = ' ';
  }
}
}

void takeOverAlsaMessages() {
  static const bool done = (snd_lib_error_set_handler(keepAlsaMessage), true);
  (void)done;
}

void forgetAlsaMessage() { latest[0] = '\0'; }

std::string latestAlsaMessage() { return latest; }

}  // namespace tavro::sink

#include "driver/error_text.h"

#include <algorithm>
#include <cstring>

#include "control/error_texts.h"
#include "platform/log.h"

namespace tavro::driver {

// Hosts show these verbatim: none may be cut.
namespace errors = control::errors;
static_assert(sizeof errors::kOpenFailure <= kErrorTextSize);
static_assert(sizeof errors::kHostNotSet <= kErrorTextSize);
static_assert(sizeof errors::kCannotCreateSocket <= kErrorTextSize);
static_assert(sizeof errors::kCannotConnectStreamer <= kErrorTextSize);
static_assert(sizeof errors::kCannotSendToStreamer <= kErrorTextSize);
static_assert(sizeof errors::kNoResponse <= kErrorTextSize);
static_assert(sizeof errors::kCannotConnectData <= kErrorTextSize);
static_assert(sizeof errors::kSampleRateNotSupported <= kErrorTextSize);
static_assert(sizeof errors::kOutputBuffersMissing <= kErrorTextSize);
static_assert(sizeof errors::kOutputBuffersMismatch <= kErrorTextSize);
static_assert(sizeof errors::kAlreadyStreaming <= kErrorTextSize);
static_assert(sizeof errors::kNoStreamThread <= kErrorTextSize);

void ErrorText::set(const char* text, bool quiet) noexcept {
  if (!quiet) platform::log::line("error text: %s", text);
  const size_t length = std::min(std::strlen(text), kErrorTextSize - 1);
  const std::lock_guard<std::mutex> hold(guard_);
  std::memcpy(text_, text, length);
  text_[length] = '\0';
}

void ErrorText::copyTo(char* out) const noexcept {
  const std::lock_guard<std::mutex> hold(guard_);
  std::memcpy(out, text_, std::strlen(text_) + 1);
}

}  // namespace tavro::driver

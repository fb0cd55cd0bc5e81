#pragma once
// The text getErrorMessage returns. Any of the host's threads may fail a
// call and set it while another reads it, so every access is guarded.
#include <cstddef>
#include <mutex>

namespace tavro::driver {

inline constexpr size_t kErrorTextSize = 128;

class ErrorText {
 public:
  // The whole text, cut to fit, always NUL-terminated. Logged unless quiet.
  void set(const char* text, bool quiet = false) noexcept;
  // kErrorTextSize bytes at most, NUL included.
  void copyTo(char* out) const noexcept;

 private:
  mutable std::mutex guard_;
  char text_[kErrorTextSize] = {};
};

}  // namespace tavro::driver

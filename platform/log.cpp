#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/user_file.h"

namespace tavro::platform::log {
namespace {

constexpr size_t kPathSize = 520;
constexpr size_t kLineSize = 512;

// Lines come from the host's threads and, at the end of a stream, from the
// streaming thread: the lock keeps them whole and the path steady. It is
// never taken per tick.
std::mutex lineLock;
char logPath[kPathSize] = {};
std::atomic<bool> logEnabled{false};
std::atomic<uint64_t> loadedAt{0};

}  // namespace

void refresh() noexcept {
  uint64_t unset = 0;
  loadedAt.compare_exchange_strong(unset, platform::monotonicNanoseconds());
  char path[kPathSize];
  const bool found =
      platform::profileFilePath(kFileName, path, sizeof path) && platform::fileExists(path);
  std::lock_guard<std::mutex> hold(lineLock);
  if (found) std::memcpy(logPath, path, sizeof path);
  logEnabled.store(found, std::memory_order_release);
}

bool enabled() noexcept { return logEnabled.load(std::memory_order_acquire); }

void line(const char* format, ...) noexcept {
  if (!enabled()) return;
  char text[kLineSize];
  const uint64_t elapsed = platform::monotonicNanoseconds() - loadedAt.load();
  int length = std::snprintf(text, sizeof text, "%10.3f ", static_cast<double>(elapsed) / 1e9);
  if (length < 0) return;
  va_list arguments;
  va_start(arguments, format);
  // The analyzer loses va_start across the call above; the list is started.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int body = std::vsnprintf(text + length, sizeof text - length - 1, format, arguments);
  va_end(arguments);
  if (body < 0) return;
  length += body;
  // A line cut short still ends the line.
  if (length > static_cast<int>(sizeof text) - 2) length = sizeof text - 2;
  text[length++] = '\n';
  std::lock_guard<std::mutex> hold(lineLock);
  if (!enabled()) return;
  platform::appendToExistingFile(logPath, text, static_cast<uint32_t>(length));
}

}  // namespace tavro::platform::log

#pragma once
// Watches for driver notifications and message boxes while it lives.
//
// POSIX: points the desktop log ($TAVRO_DESKTOP_LOG) at a fresh file and reads
// it back. Windows: a hidden top-level window that registers the driver's
// message and records every broadcast it receives.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavro::testing {

class NotificationSpy {
 public:
  NotificationSpy();
  ~NotificationSpy();
  NotificationSpy(const NotificationSpy&) = delete;
  NotificationSpy& operator=(const NotificationSpy&) = delete;

  // Codes of the "TAVROStreamerDriver" broadcasts seen so far, in order.
  std::vector<uintptr_t> codes();
  // "caption: text" of each message box shown so far (POSIX only; on Windows
  // a test injects a MessageBoxA fault instead, since a real box would wait).
  std::vector<std::string> messageBoxes();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavro::testing

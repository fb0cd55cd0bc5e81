#if !defined(_WIN32)
#include <cstdlib>
#include <string>

#include "support/notification_spy.h"
#include "support/temp_dir.h"

namespace tavro::testing {

struct NotificationSpy::Impl {
  TempDir dir;
  std::filesystem::path log = dir / "desktop.log";
};

NotificationSpy::NotificationSpy() : impl_(std::make_unique<Impl>()) {
  setEnv("TAVRO_DESKTOP_LOG", impl_->log.string());
}

NotificationSpy::~NotificationSpy() { unsetEnv("TAVRO_DESKTOP_LOG"); }

std::vector<uintptr_t> NotificationSpy::codes() {
  static const std::string kPrefix = "message TAVROStreamerDriver ";
  std::vector<uintptr_t> codes;
  for (const std::string& line : readLines(impl_->log)) {
    if (line.rfind(kPrefix, 0) == 0) codes.push_back(std::stoul(line.substr(kPrefix.size())));
  }
  return codes;
}

std::vector<std::string> NotificationSpy::messageBoxes() {
  static const std::string kPrefix = "messagebox ";
  std::vector<std::string> boxes;
  for (const std::string& line : readLines(impl_->log)) {
    if (line.rfind(kPrefix, 0) == 0) boxes.push_back(line.substr(kPrefix.size()));
  }
  return boxes;
}

}  // namespace tavro::testing
#endif

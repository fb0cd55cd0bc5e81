#include "sink/app/program_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace tavro::sink {
namespace {

std::string localTime() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char text[32] = {};
  // Called under the log's lock, so localtime's one buffer is not shared.
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  }
  return text;
}

}  // namespace

ProgramLog::ProgramLog(std::string path, uint64_t limitBytes)
    : path_(std::move(path)), limitBytes_(limitBytes) {
  if (!path_.empty() && !file_.open(path_)) path_.clear();
}

ProgramLog ProgramLog::forThisSystem(const char* fileName) {
  os::useStartingConsole();
  return ProgramLog(os::logFilePath(fileName), kLogLimitBytes);
}

void ProgramLog::say(const std::string& line) {
  const std::lock_guard guard(lock_);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  addToFile(line);
}

void ProgramLog::complain(const std::string& line) {
  const std::lock_guard guard(lock_);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  addToFile(line);
}

void ProgramLog::addToFile(const std::string& line) {
  if (!file_.isOpen()) return;
  const std::string stamped = localTime() + "  " + line;
  if (file_.size() > 0 && file_.size() + stamped.size() + 2 > limitBytes_) {
    // The newest part is kept whole: the old file moves aside at once.
    file_.close();
    os::replaceFile(path_, path_ + ".1");
    if (!file_.open(path_)) return;
  }
  file_.appendLine(stamped);
}

}  // namespace tavro::sink

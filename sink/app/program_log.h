#pragma once
// What tavro-sink says, where it can be read: its standard output and error
// as always, and where the system keeps one (Windows), a log file with the
// time of each line. The file is bounded: past its limit it becomes
// "<name>.1", replacing the one before, and a new one starts.
#include <cstdint>
#include <mutex>
#include <string>

#include "sink/os/program_log.h"

namespace tavro::sink {

inline constexpr uint64_t kLogLimitBytes = 4u << 20;

class ProgramLog {
 public:
  // `path` empty: no file.
  ProgramLog(std::string path, uint64_t limitBytes);
  // The log this system keeps for the program, if any, with its output on
  // the console it was started from when it was given none.
  static ProgramLog forThisSystem(const char* fileName);

  // A line of its standard output.
  void say(const std::string& line);
  // A line of its standard error.
  void complain(const std::string& line);
  // The file, or empty when there is none.
  const std::string& path() const { return path_; }

 private:
  void addToFile(const std::string& line);

  std::mutex lock_;  // the serving, stream and main threads all say things
  std::string path_;
  uint64_t limitBytes_;
  os::AppendFile file_;
};

}  // namespace tavro::sink

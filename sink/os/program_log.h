#pragma once
// Where a program says things when nobody may be watching: a file of its
// own beside whatever standard output it was given. On Windows the sink is a
// program without a console window, started at logon; Linux keeps its output
// in the terminal or the service's journal, and has no such file.
#include <cstdint>
#include <string>

namespace tavro::sink::os {

// The path of the program's log file `name`, its folder created: on Windows
// %LOCALAPPDATA%\TAVRO\<name>. Empty where the system keeps none, or the
// folder cannot be made.
std::string logFilePath(const char* name);

// A program without a console of its own (Windows) writes to the console of
// the prompt it was started from, when it was given no standard output or
// error of its own (a redirection, a pipe, a parent's inherited handles).
void useStartingConsole();

// A file lines are added to, on the system's line ends.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens or creates `path` (UTF-8) to add to its end; false if it cannot.
  bool open(const std::string& path);
  void close();
  bool isOpen() const;
  // Its size in bytes, as opened and added to since.
  uint64_t size() const { return size_; }
  bool appendLine(const std::string& line);

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
};

// Moves `from` over `to`, which it replaces; false if it could not.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace tavro::sink::os

// Stands in for regsvr32.exe in a made-up Windows folder, so that the install
// scripts' choice of regsvr32 can be checked on every kind of Windows from one
// 64-bit Wine prefix. It appends "<folder> <arguments>" to the file named by
// TAVRO_FAKE_REGSVR32_LOG, the DLL reduced to its file name, and exits with
// TAVRO_FAKE_REGSVR32_EXIT (0 if unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string lastComponent(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentFolderName(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : lastComponent(path.substr(0, slash));
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = parentFolderName(self);
  for (int i = 1; i < argc; ++i) {
    line += ' ';
    const std::string argument = argv[i];
    line += argument.starts_with('/') ? argument : lastComponent(argument);
  }
  const char* logPath = std::getenv("TAVRO_FAKE_REGSVR32_LOG");
  if (logPath == nullptr) {
    return 90;
  }
  FILE* log = std::fopen(logPath, "a");
  if (log == nullptr) {
    return 91;
  }
  std::fprintf(log, "%s\n", line.c_str());
  std::fclose(log);
  const char* exitCode = std::getenv("TAVRO_FAKE_REGSVR32_EXIT");
  return exitCode == nullptr ? 0 : std::atoi(exitCode);
}

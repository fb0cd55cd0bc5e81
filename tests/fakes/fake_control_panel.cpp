// Stands in for the control panel program: appends the command line it was
// started with to the file named by TAVRO_FAKE_PANEL_LOG, one line per start.
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

int main(int argc, char** argv) {
  const char* log = std::getenv("TAVRO_FAKE_PANEL_LOG");
  if (log == nullptr) return 1;
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  std::string line = GetCommandLineA();
#else
  std::string line;
  for (int i = 0; i < argc; ++i) line += (i ? " " : "") + std::string(argv[i]);
#endif
  FILE* file = std::fopen(log, "a");
  if (file == nullptr) return 1;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
  return 0;
}

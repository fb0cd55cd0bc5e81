#include "hostile/hostile_arguments.h"

#include <cstdlib>
#include <vector>

#include "sink/app/sink_arguments.h"

namespace tavro::testing {

const char kHostileUsage[] =
    "tavro-test-sink: tavro-sink for the tests, which may also misbehave.\n"
    "  --close-at STEP      close the connection instead of replying to STEP:\n"
    "                       greeting, settings, interfaces or announcement\n"
    "  --refuse N           answer the format announcement with \"ERROR N\"\n";

namespace {

bool closeAt(const std::string& name, HostileOptions& options) {
  for (const sink::Step step : {sink::Step::kGreeting, sink::Step::kSettings,
                                sink::Step::kInterfaces, sink::Step::kAnnouncement}) {
    if (name != sink::stepName(step)) continue;
    options.script[static_cast<size_t>(step)].misbehaviour = Misbehaviour::kClose;
    return true;
  }
  return false;
}

}  // namespace

bool parseHostileArguments(int argc, char** argv, HostileOptions& options, std::string& error) {
  // tavro-sink's own options go on to its parser, in their order.
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option != "--close-at" && option != "--refuse") {
      rest.push_back(argv[i]);
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + option;
      return false;
    }
    const std::string value = argv[++i];
    if (option == "--close-at") {
      if (!closeAt(value, options)) {
        error = "unknown step: " + value;
        return false;
      }
      continue;
    }
    char* end = nullptr;
    const long code = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || code < 0 || code > 0x7FFFFFFF) {
      error = "not a number after --refuse: " + value;
      return false;
    }
    options.refuse = static_cast<int>(code);
  }
  return sink::parseArguments(static_cast<int>(rest.size()), rest.data(), options, error);
}

}  // namespace tavro::testing

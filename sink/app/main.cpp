// tavro-sink: the streamer. It answers the driver on TCP port 48168, paces
// each stream with ticks and plays it to a sound card, or checks and records
// it when there is none.
#include <cstdio>
#include <memory>
#include <string>

#include "sink/app/foreground.h"
#include "sink/app/program_log.h"
#include "sink/app/sink_arguments.h"
#include "sink/app/stored_options.h"
#include "sink/output/device_list.h"

int main(int argc, char** argv) {
  using namespace tavro::sink;
  // On Windows the sink has no console window of its own: what it says goes
  // to its log file too.
  ProgramLog log = ProgramLog::forThisSystem("tavro-sink.log");
  SinkOptions options;
  CommandLineChoices chosen;
  std::string error;
  if (!parseArguments(argc, argv, options, error, &chosen)) {
    if (!error.empty()) log.complain("tavro-sink: " + error);
    std::fputs(kUsage, error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  std::unique_ptr<os::StoredSettings> store = os::openStoredSettings();
  if (options.listDevices) {
    listDevices([&log](const std::string& line) { log.say(line); });
    return 0;
  }
  SinkPeer::OptionsRefresh refresh;
  if (store) {
    // Shared by the copies std::function makes; only the serving thread calls it.
    auto stored = std::make_shared<StoredOptions>(std::move(store), chosen);
    refresh = [stored](const SinkOptions& given, const SinkPeer::LineSink& print) {
      return stored->next(given, print);
    };
  }
  if (!log.path().empty()) log.say("log: " + log.path());
  return serveInForeground("tavro-sink", options, {}, &log, std::move(refresh));
}

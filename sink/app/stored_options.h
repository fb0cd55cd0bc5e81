#pragma once
// The streamer's settings kept by the system (TAVRO Settings writes them on
// Windows), under the command line: each setting it leaves alone comes from
// the store, read again for every connection, so a change applies at the
// next stream without a restart.
#include <string>
#include <vector>

#include "sink/network/sink_peer.h"
#include "sink/os/stored_settings.h"

namespace tavro::sink {

// The settings the store can hold, and which of them the command line gave:
// those always stay as given.
struct CommandLineChoices {
  bool device = false;
  bool transport = false;
  bool wordLength = false;
  bool bufferIndex = false;
  bool bufferPackets = false;
  bool dsd = false;
};

// `given` with the store's value for each setting the command line left
// alone. A value that is none of its setting's (out of range, of the wrong
// kind) is left out, with one sentence saying so in `ignored`.
SinkOptions withStoredSettings(const SinkOptions& given, const CommandLineChoices& chosen,
                               const os::StoredSettings& store, std::vector<std::string>& ignored);

// The same as a peer asks for it at each connection. It says what it ignores
// and what it changes only when that differs from the connection before, so
// a log is not filled with one complaint per connection.
class StoredOptions {
 public:
  StoredOptions(std::unique_ptr<os::StoredSettings> store, CommandLineChoices chosen)
      : store_(std::move(store)), chosen_(chosen) {}
  SinkOptions next(const SinkOptions& given, const SinkPeer::LineSink& print);

 private:
  std::unique_ptr<os::StoredSettings> store_;
  CommandLineChoices chosen_;
  std::vector<std::string> ignored_;
  std::string applied_;
};

}  // namespace tavro::sink

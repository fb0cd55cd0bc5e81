#pragma once
// tavro-sink's core: the streamer that answers the driver's control frames
// on TCP port 48168 and takes its streams, to a sound card or to checks and
// files. Tests run it in-process, and through its hooks make it misbehave at
// any step.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sink/allow_list.h"
#include "sink/alsa_output.h"
#include "sink/control_frame.h"
#include "sink/stream_format.h"
#include "sink/stream_report.h"
#include "sink/tick_hooks.h"

namespace tavro::sink {

inline constexpr uint16_t kStreamerPort = 48168;

struct SinkOptions {
  std::string address = "127.0.0.1";
  uint16_t port = kStreamerPort;
  // Settings reply.
  uint32_t bufferIndex = 6;
  uint32_t transport = 1;
  uint32_t wordLength = 24;
  uint32_t shift = 0;
  uint32_t driveMode = 0;
  std::vector<std::string> interfaces = {"TAVRO sink output"};
  uint32_t interfaceIndex = 0;
  // Text after "OK " in the greeting reply; empty means the listening address.
  std::string greetingAddress;
  // Stop after the first connection ends.
  bool once = false;
  // Who may play: connections from elsewhere are closed at once. Empty: anyone.
  std::vector<AllowedNetwork> allow;
  // A player announcing while a stream plays is refused with "ERROR 1"
  // instead of taking over.
  bool noTakeover = false;
  // The data side.
  std::string outputDir;  // a WAV or DSF file per stream here; empty: none
  bool verify = false;    // check every sample against the test signal
  DopMode dop = DopMode::kAuto;
  uint64_t tickLimit = 0;  // end each stream after this many ticks; 0: the driver ends it
  double seconds = 0;      // the same bound in seconds, when tickLimit is 0
  // Print the playback devices and what each takes instead of serving.
  bool listDevices = false;
  // A sound card to play every stream to (an alsa-lib PCM name); empty: none,
  // and the sink's own clock paces the stream.
  std::string device;
  DsdOutput dsd = DsdOutput::kDop;
  uint32_t bufferPackets = 4;  // the card's buffer, in packets
  uint32_t statusSeconds = 0;  // a status line this often while playing; 0: none
};

// What the peer answers to a frame, and whether the stream follows it.
struct Answer {
  std::string reply;  // UTF-8
  bool startsStream = false;
};

// A reply about to leave, as a hook that sends it sees it.
struct ReplyTurn {
  int connection = -1;
  int wake = -1;  // readable once the peer is stopped: a hook that waits watches it
  Step step = Step::kUnknown;
  std::string reply;  // UTF-8
  std::function<void(const std::string&)> print;
};

// Where a test bends the peer into a streamer that misbehaves. tavro-sink
// leaves them all empty: a user checks a set-up against a streamer that
// behaves, and the driver's defences against one that does not are the
// tests' to build, on this same peer rather than on a second one.
struct SinkHooks {
  // Sends a reply its own way, or not at all; returns whether the connection
  // goes on. Empty: the reply in one whole frame, NUL-terminated.
  std::function<bool(const ReplyTurn& turn)> sendReply;
  // Gets the usual answer to an announcement and returns the one to give.
  std::function<Answer(const std::u16string& announcement, Answer usual)> judgeAnnouncement;
  TickHooks ticks;
};

// The usual replies to the queries.
std::string greetingReply(const SinkOptions& options);
std::string settingsReply(const SinkOptions& options);
std::string interfacesReply(const SinkOptions& options);

class SinkPeer {
 public:
  using LineSink = std::function<void(const std::string&)>;

  explicit SinkPeer(SinkOptions options, LineSink print = nullptr, SinkHooks hooks = {});
  ~SinkPeer();
  SinkPeer(const SinkPeer&) = delete;
  SinkPeer& operator=(const SinkPeer&) = delete;

  // Binds and listens, then serves connections one after the other on a
  // thread of its own. False with a reason when the address cannot be used.
  bool start(std::string* error);
  void stop();

  // True once `once` is set and the first connection has ended.
  bool finished() const { return finished_.load(); }

  // Texts of the frames received so far (UTF-8), in order.
  std::vector<std::string> received() const;
  // Everything the peer printed.
  std::vector<std::string> lines() const;
  // Connections accepted, and those ended, so far.
  int accepted() const { return accepted_.load(); }
  int ended() const { return ended_.load(); }
  // Waits until `count` connections have ended; false on time-out.
  bool waitForEnded(int count, std::chrono::milliseconds limit) const;

  // The reports of the streams that have ended, in order.
  std::vector<StreamReport> reports() const;
  // Waits until `count` streams have ended; false on time-out.
  bool waitForReports(size_t count, std::chrono::milliseconds limit) const;

 private:
  void run();
  void serve(int connection);
  Answer answerTo(Step step, const std::u16string& text);
  // The one place that decides whether a stream follows an announcement.
  Answer judgeAnnouncement(const std::u16string& announcement);
  // True to go on with the connection.
  bool sendReply(int connection, Step step, const std::string& reply);
  bool readFrame(int connection, std::u16string& text, size_t& bytes);
  void drainStream(int connection);
  // Opens the sound card for an announced stream, into `device_`; the
  // refusal code when it cannot play it, else 0 (also when the announcement
  // is not understood, which the stream then reports).
  int openDevice(const std::u16string& announcement);
  void takeStream(int connection, const std::u16string& announcement);
  void flushDatagrams();
  bool waitReadable(int fd, int timeoutMs);
  void print(const std::string& line);

  SinkOptions options_;
  LineSink printer_;
  SinkHooks hooks_;
  int listener_ = -1;
  int datagrams_ = -1;  // transport mode 2: UDP on the same address and port
  int streams_ = 0;     // streams taken so far
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> ended_{0};
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<std::string> received_;
  std::vector<std::string> lines_;
  std::vector<StreamReport> reports_;
  // The card opened for the announcement being answered, until its stream
  // takes it; the serving thread's alone.
  std::unique_ptr<AlsaOutput> device_;
  std::string driverAddress_;  // where the connection being served came from
  DeviceRequest deviceRequest_;
};

}  // namespace tavro::sink

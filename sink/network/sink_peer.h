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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sink/format/stream_format.h"
#include "sink/network/allow_list.h"
#include "sink/network/control_frame.h"
#include "sink/network/loss_deadline.h"
#include "sink/network/tick_hooks.h"
#include "sink/network/waiting_peers.h"
#include "sink/os/socket.h"
#include "sink/os/waker.h"
#include "sink/output/device_output.h"
#include "sink/report/stream_report.h"

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
  // Instead of those two, with a device to play to: the playback devices as --device names them, asked
  // anew at each query, and `device`'s place among them. A name with "ASIO:"
  // chosen makes the driver send 32-bit words, which a DAC's ASIO driver
  // takes as Int32LSB.
  bool interfacesOfDevices = false;
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
  // A device to play every stream to ("ASIO: <driver name>", an alsa-lib PCM
  // name); empty: none, and the sink's own clock paces the stream.
  std::string device;
  DsdOutput dsd = DsdOutput::kDop;
  uint32_t bufferPackets = 4;  // the card's buffer, in packets
  uint32_t statusSeconds = 0;  // a status line this often while playing; 0: none
  // With a card over UDP, when a packet that does not come is given up. The
  // earlier rule stays for the benchmark that sets them side by side.
  GiveUp giveUp = GiveUp::kLearned;
  // How long a peer may take for its greeting, and for any frame once begun:
  // the driver's own reply limit.
  std::chrono::milliseconds exchangeLimit{10'000};
};

// What the peer answers to a frame, and whether the stream follows it.
struct Answer {
  std::string reply;  // UTF-8
  bool startsStream = false;
};

// A reply about to leave, as a hook that sends it sees it.
struct ReplyTurn {
  os::Socket connection = os::kNoSocket;
  os::Socket wake =
      os::kNoSocket;  // readable once the peer is stopped: a hook that waits watches it
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

  // Settings that may change while the sink runs: given the options the
  // peer was made with, those for the next connection, saying what it has
  // to about them.
  using OptionsRefresh =
      std::function<SinkOptions(const SinkOptions& given, const LineSink& print)>;

  explicit SinkPeer(SinkOptions options, LineSink print = nullptr, SinkHooks hooks = {},
                    OptionsRefresh refresh = nullptr);
  ~SinkPeer();
  SinkPeer(const SinkPeer&) = delete;
  SinkPeer& operator=(const SinkPeer&) = delete;

  // Binds and listens, then serves connections on a thread of its own: the
  // control exchanges of many at once, and one stream, on a thread of its
  // own, which the newest player's announcement takes over. False with a
  // reason when the address cannot be used.
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
  // What the stream's thread is given: all of it is its own from then on.
  struct StreamStart {
    os::Socket connection = os::kNoSocket;
    std::u16string announcement;
    std::unique_ptr<DeviceOutput> device;
    DeviceRequest request;
    int number = 0;
    os::Socket wake = os::kNoSocket;
    // Those the connection's settings reply was made from.
    SinkOptions options;
  };

  void run();
  void accept(WaitingPeers& waiting);
  void refreshOptions();
  // One frame has come whole from a waiting peer: answers it, and leaves
  // the peer waiting for its next frame, closed, or gone on as the stream.
  void serveFrame(WaitingPeers& waiting, WaitingPeer& peer);
  Answer answerTo(Step step, const std::u16string& text, const std::string& from);
  // The one place that decides whether a stream follows an announcement.
  Answer judgeAnnouncement(const std::u16string& announcement);
  // True to go on with the connection.
  bool sendReply(os::Socket connection, Step step, const std::string& reply);
  // Opens the sound card for an announced stream, into `device_`; the
  // refusal code when it cannot play it, else 0.
  int openDevice(const std::u16string& announcement);
  void startStream(os::Socket connection, const std::u16string& announcement,
                   const std::string& from);
  // Ends the stream playing, if any, for `cause`, and waits for its thread.
  void endStream(StreamEnd cause);
  void takeStream(StreamStart start);
  // An announcement the sink took but cannot read (a test's hook can make
  // that happen): its bytes are taken until the peer or the sink ends it.
  void drainStream(os::Socket connection, os::Socket wake);
  void connectionEnded();
  void flushDatagrams();
  void print(const std::string& line);

  const SinkOptions given_;
  // The serving thread's: the options for the connections in their exchange.
  SinkOptions options_;
  LineSink printer_;
  SinkHooks hooks_;
  OptionsRefresh refresh_;
  os::Socket listener_ = os::kNoSocket;
  os::Socket datagrams_ = os::kNoSocket;  // transport mode 2: UDP on the same address and port
  int streams_ = 0;                       // streams taken so far
  os::Waker wake_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> ended_{0};
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::mutex printLock_;  // one line at a time from the serving and stream threads
  std::vector<std::string> received_;
  std::vector<std::string> lines_;
  std::vector<StreamReport> reports_;
  // The serving thread's alone: the card opened for the announcement being
  // answered, until its stream takes it.
  std::unique_ptr<DeviceOutput> device_;
  DeviceRequest deviceRequest_;
  // The stream playing: its thread, the pipe that ends it, and why it was
  // ended, which its summary tells. `streamDone_` becomes readable when the
  // thread is about to return. The serving thread starts and joins it.
  std::thread streamThread_;
  os::Waker streamWake_;
  os::Waker streamDone_;
  std::atomic<StreamEnd> stopCause_{StreamEnd::kStopped};
  std::string streamFrom_;
};

}  // namespace tavro::sink

#pragma once
// tavro-sink's core: a stand-in for the streamer that answers the driver's
// control frames on TCP port 48168. Users run it to check a set-up; tests run
// it in-process and script it to misbehave at any step.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sink/alsa_output.h"
#include "sink/stream_format.h"
#include "sink/stream_report.h"
#include "sink/tick_style.h"

namespace tavro::sink {

inline constexpr uint16_t kStreamerPort = 48168;
inline constexpr size_t kFrameBytes = 1024;
inline constexpr size_t kFrameUnits = kFrameBytes / 2;

// The exchanges a driver runs, in order, and the one the peer does not know.
enum class Step { kGreeting, kSettings, kInterfaces, kAnnouncement, kUnknown };
inline constexpr size_t kStepCount = 5;

const char* stepName(Step step);

enum class Misbehaviour {
  kNone,
  kShortFrame,       // send the first 100 bytes of the reply, then close
  kWrongFirstUnit,   // the reply's first unit becomes 'X'
  kSilentThenClose,  // no reply; close after `silence`
  kClose,            // close at once, without a reply
  kUnterminated,     // the reply fills all 512 units, no NUL
  kTrickle,          // the reply goes out one byte per TCP segment
  kGlued,            // the reply and a second copy of it in one send
  kSilent,           // no reply; the connection stays open until the driver closes it
};

struct StepScript {
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  std::optional<std::string> reply;  // instead of the usual reply (UTF-8)
};

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
  // The announcement: 0 accepts with "+OK", n refuses with "ERROR n".
  int refuse = 0;
  // Text after "OK " in the greeting reply; empty means the listening address.
  std::string greetingAddress;
  // Units after a reply's NUL are filled with '~' instead of zeros, as a
  // streamer that reuses its buffer leaves them.
  bool dirtyTail = false;
  // Stop after the first connection ends.
  bool once = false;
  // The data side.
  std::string outputDir;  // a WAV or DSF file per stream here; empty: none
  bool verify = false;    // check every sample against the test signal
  DopMode dop = DopMode::kAuto;
  uint64_t tickLimit = 0;  // end each stream after this many ticks; 0: the driver ends it
  // At the tick limit, fall silent with the connection open instead of
  // closing it, as a streamer that hangs does.
  bool silentAtLimit = false;
  // Bytes per tick (1 to 64); anything but 2 is no tick to a driver.
  uint32_t tickBytes = 2;
  TickStyle tickStyle = TickStyle::kPaced;
  double seconds = 0;  // the same bound in seconds, when tickLimit is 0
  std::array<StepScript, kStepCount> script{};
  std::chrono::milliseconds silence{200};
  // Print the playback devices and what each takes instead of serving.
  bool listDevices = false;
  // A sound card to play every stream to (an alsa-lib PCM name); empty: none,
  // and the sink's own clock paces the stream.
  std::string device;
  DsdOutput dsd = DsdOutput::kDop;
  uint32_t bufferPackets = 4;  // the card's buffer, in packets
  uint32_t statusSeconds = 0;  // a status line this often while playing; 0: none
};

// The usual replies, as the peer sends them with no script.
std::string greetingReply(const SinkOptions& options);
std::string settingsReply(const SinkOptions& options);
std::string interfacesReply(const SinkOptions& options);
std::string announcementReply(const SinkOptions& options);

// Which exchange a received text opens.
Step classify(const std::u16string& text);

class SinkPeer {
 public:
  using LineSink = std::function<void(const std::string&)>;

  explicit SinkPeer(SinkOptions options, LineSink print = nullptr);
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
  // True to go on with the connection.
  // `refusal`: the announcement is answered "ERROR refusal" when not 0.
  bool answer(int connection, Step step, const std::u16string& text, int refusal);
  bool sendReply(int connection, const std::string& reply, const StepScript& script);
  bool readFrame(int connection, std::u16string& text, size_t& bytes);
  void drainStream(int connection);
  // Opens the sound card for an announced stream; the refusal code when it
  // cannot play it, else 0 (also when the announcement is not understood).
  int openDevice(const std::u16string& announcement, std::unique_ptr<AlsaOutput>& device,
                 DeviceRequest& request);
  void takeStream(int connection, const std::u16string& announcement,
                  std::unique_ptr<AlsaOutput> device, DeviceRequest request);
  void flushDatagrams();
  bool waitReadable(int fd, int timeoutMs);
  void print(const std::string& line);

  SinkOptions options_;
  LineSink printer_;
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
};

}  // namespace tavro::sink

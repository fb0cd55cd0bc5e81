#pragma once
// The device a stream plays to, whatever its kind: an alsa-lib PCM on
// Linux, a DAC's own ASIO driver on Windows. A backend opens it for exactly
// the stream's samples and rate or refuses the stream (nothing is resampled,
// narrowed or mixed), and DevicePlayer feeds it; the device's clock paces
// the stream.
//
// Who calls what, from which thread:
// - openOutput() runs on the serving thread, while the announcement is
//   answered, so that a device that cannot play the stream is refused before
//   the driver starts it. The device then moves, once, to the stream's
//   thread, and from there on every call below comes from that one thread
//   (DevicePlayer's loop): no call needs to be safe against another.
// - The loop polls the device beside its sockets: pollDescriptors() gives
//   the entries to watch (only while the sink has nothing asked for, to
//   learn when the device has room), pollStatus() reads what they say. A
//   backend whose device runs on a thread of its own (ASIO's bufferSwitch,
//   on the driver's thread) hands out its os::Waker's socket and wakes it
//   when it has taken frames out, or when the device failed.
// - avail() is the room the device has now, in device frames; write() takes
//   interleaved frames of sample() (2 channels), never more than avail()
//   said, and on kOk has taken them all. A backend with a thread of its own
//   keeps them in a ring that write() fills and its thread drains: the only
//   data that crosses threads, as a single-producer single-consumer ring
//   with atomic positions. write() never allocates and never waits long.
// - kUnderrun: the device ran dry. For a device the sink restarts (ALSA),
//   recover() makes it ready to be filled again. A device that cannot stop
//   (ASIO) plays silence itself (DSD silence for DSD) until its prefill is in
//   again, reports the dry spell once as kUnderrun so that it is counted and
//   told as a card's is, and recover() only asks whether it is still there.
//   A backend that counts dry spells it cannot report adds them in
//   underrunsSeen().
// - kGone: the device went away (unplugged, reset request, driver failed):
//   the stream ends, and the next announcement opens it again.
// - playOut() at the stream's end plays what is queued, for at most the
//   time given, and stops the device; the destructor closes it.
#include <cstdint>
#include <memory>
#include <string>

#include "sink/os/poll.h"
#include "sink/output/device_format.h"

namespace tavro::sink {

// What a DoP stream becomes at the device.
enum class DsdOutput {
  kDop,     // DoP frames passed through as PCM: any DoP DAC decodes them
  kNative,  // the device's own DSD format
  kAuto,    // native when the device has a DSD format at the rate, else DoP
};

const char* dsdOutputName(DsdOutput output);

struct DeviceRequest {
  std::string name;  // as given to --device: "hw:CARD=D10,DEV=0", "ASIO: <driver name>"
  uint32_t bits = 24;
  uint32_t rate = 0;          // as announced
  uint32_t packetFrames = 0;  // frames per packet on the wire
  bool dopStream = false;     // the stream's 24-bit samples are DoP
  DsdOutput dsd = DsdOutput::kDop;
  uint32_t bufferPackets = 4;
};

// Why a device cannot play a stream, as the announcement's answer tells the
// driver: 1 the device is absent, busy or failed, 2 it refuses the rate, 3
// the format.
struct DeviceRefusal {
  int code = 0;
  std::string reason;
};

// How a write or a wait at the device went.
enum class DeviceStatus { kOk, kUnderrun, kGone };

class DeviceOutput {
 public:
  virtual ~DeviceOutput() = default;

  virtual const std::string& name() const = 0;
  virtual DeviceSample sample() const = 0;
  virtual uint32_t rate() const = 0;  // device frames per second
  virtual uint32_t periodFrames() const = 0;
  virtual uint32_t bufferFrames() const = 0;
  // "S24_3LE at 44100 Hz, 4 x 512 frames", for the log.
  virtual std::string describe() const = 0;

  // The entries to poll for the device, at most `space`; how many.
  virtual int pollDescriptors(os::PollEntry* into, int space) = 0;
  // What the polled entries say: kOk also when there is nothing to do.
  virtual DeviceStatus pollStatus(os::PollEntry* polled, int count) = 0;
  // Frames the device can take now (its free room), or the trouble.
  virtual DeviceStatus avail(uint32_t& frames) = 0;
  // Queues every frame; on kUnderrun nothing of them was queued.
  virtual DeviceStatus write(const uint8_t* frames, uint32_t count) = 0;
  // After an underrun: ready to be filled and started again.
  virtual DeviceStatus recover() = 0;
  // Frames queued ahead of the one playing now; 0 when it cannot tell.
  virtual uint32_t delayFrames() = 0;
  // Plays what is queued, for at most `limitNs`, then stops the device.
  virtual void playOut(int64_t limitNs) = 0;
  // Halves the device played as silence because nothing had come in time,
  // for devices that fill the gap themselves; the sink adds them to its own.
  virtual uint64_t underrunsSeen() { return 0; }
};

// Opens the device `request.name` names, through the backend for its kind:
// "ASIO: <driver name>" an installed ASIO driver (Windows builds), any other
// name an alsa-lib PCM (Linux builds). Null with `refusal` filled in when
// the device cannot play the request, and with code 1 for a name whose
// backend this build does not have.
std::unique_ptr<DeviceOutput> openOutput(const DeviceRequest& request, DeviceRefusal& refusal);

}  // namespace tavro::sink

// An ALSA I/O plugin standing in for a USB DAC on machines without a sound
// card: it takes what the application plays at the pace of the monotonic
// clock, appends every byte to a capture file, and fails the ways a real
// device fails when a test asks it to through its control directory.
//
//   pcm.NAME {
//     type tavrotest
//     capture "/dir/NAME.raw"                # every byte played, appended
//     formats "S16_LE S24_3LE DSD_U32_BE"    # the only formats accepted
//     rates "44100 48000 88200"              # the only rates accepted
//     control "/dir/NAME.control"            # stall, vanish, busy
//     starts "/dir/NAME.starts"              # optional: "start NS RATE FRAMES"
//   }                                        # at each start of playback
//
// From a start on, the card takes frame FRAMES + n (counted over the whole
// capture) at NS + n / RATE seconds, until the next start: so a benchmark
// knows when each frame it sent was played.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "control_files.h"
#include "dac_settings.h"
#include "play_clock.h"

namespace tavro::testing {
namespace {

int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

timespec toTimespec(int64_t ns) {
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// One open device. Counts restart at every prepare, as on a real card.
struct TestDac {
  explicit TestDac(const std::string& controlDir) : control(controlDir) {}
  ~TestDac() {
    if (captureFd >= 0) close(captureFd);
    if (timerFd >= 0) close(timerFd);
    if (startsFd >= 0) close(startsFd);
  }
  TestDac(const TestDac&) = delete;
  TestDac& operator=(const TestDac&) = delete;

  snd_pcm_ioplug_t io{};
  ControlFiles control;
  int captureFd = -1;
  int startsFd = -1;
  uint64_t captured = 0;  // frames, over every prepare
  // The poll descriptor: it turns readable when the card would interrupt.
  int timerFd = -1;
  PlayClock clock;
  bool running = false;
  bool xrun = false;
  uint64_t written = 0;
  snd_pcm_sframes_t position = 0;
  size_t frameBytes = 0;
  snd_pcm_uframes_t availMin = 1;
  snd_pcm_uframes_t stopThreshold = 0;
  snd_pcm_uframes_t boundary = 0;

  // What a real card does once unplugged: every later call sees it gone.
  int unplug() {
    snd_pcm_ioplug_set_state(&io, SND_PCM_STATE_DISCONNECTED);
    return -ENODEV;
  }

  // With the stop threshold at the boundary the application asked never to
  // stop, and the card plays on past what it was given.
  bool starved(uint64_t played) const {
    if (stopThreshold >= boundary) return false;
    return played + io.buffer_size >= written + stopThreshold;
  }

  uint64_t played(int64_t nowNs) const {
    const uint64_t frames = clock.framesAt(nowNs);
    return io.state == SND_PCM_STATE_DRAINING ? std::min(frames, written) : frames;
  }

  snd_pcm_uframes_t avail(uint64_t played) const {
    return static_cast<snd_pcm_uframes_t>(played + io.buffer_size - written);
  }

  void startPlaying() {
    const int64_t now = monotonicNs();
    clock.start(now, io.rate);
    running = true;
    armAt(clock.timeOf(io.period_size));
    if (startsFd >= 0) {
      const std::string line = "start " + std::to_string(now) + " " + std::to_string(io.rate) +
                               " " + std::to_string(captured - written) + "\n";
      [[maybe_unused]] const ssize_t done = write(startsFd, line.data(), line.size());
    }
  }

  // The next period boundary after `played`, or the end of the data when
  // draining: a drain ends when the last frame has played, not a period later.
  void armNextWake(uint64_t played) {
    const uint64_t boundaryFrames = (played / io.period_size + 1) * io.period_size;
    int64_t wake = clock.timeOf(boundaryFrames);
    if (io.state == SND_PCM_STATE_DRAINING) wake = std::min(wake, clock.timeOf(written));
    armAt(wake);
  }

  void armAt(int64_t ns) const {
    itimerspec timer{};
    timer.it_value = toTimespec(ns);
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &timer, nullptr);
  }
  // A moment long past: the descriptor is readable at once.
  void armNow() const { armAt(1); }
  void disarm() const {
    itimerspec timer{};
    timerfd_settime(timerFd, 0, &timer, nullptr);
  }
  void clearWake() const {
    uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t ignored = read(timerFd, &expirations, sizeof expirations);
  }
};

TestDac& dacOf(snd_pcm_ioplug_t* io) { return *static_cast<TestDac*>(io->private_data); }

int dacStart(snd_pcm_ioplug_t* io) {
  TestDac& dac = dacOf(io);
  if (dac.control.vanished()) return dac.unplug();
  dac.startPlaying();
  return 0;
}

int dacStop(snd_pcm_ioplug_t* io) {
  TestDac& dac = dacOf(io);
  dac.running = false;
  dac.disarm();
  return 0;
}

snd_pcm_sframes_t dacPointer(snd_pcm_ioplug_t* io) {
  TestDac& dac = dacOf(io);
  // A negative pointer would read as an underrun: report where playback
  // stopped and let the state say why.
  if (dac.control.vanished()) {
    dac.unplug();
    return dac.position;
  }
  if (dac.xrun) return -EPIPE;
  if (!dac.running) return dac.position;
  const uint64_t played = dac.played(monotonicNs());
  if (io->state != SND_PCM_STATE_DRAINING && dac.starved(played)) {
    dac.xrun = true;
    return -EPIPE;
  }
  dac.position = static_cast<snd_pcm_sframes_t>(played % dac.boundary);
  return dac.position;
}

snd_pcm_sframes_t dacTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                              snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  TestDac& dac = dacOf(io);
  if (dac.control.vanished()) return dac.unplug();
  if (const int ms = dac.control.takeStall(); ms > 0) {
    const timespec pause = toTimespec(int64_t{ms} * 1'000'000);
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
  }
  // The card ran dry while the application was away, before these frames came.
  if (dac.running && dac.starved(dac.played(monotonicNs()))) {
    dac.xrun = true;
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
    return -EPIPE;
  }
  // Interleaved: one run of frames from the first channel's first sample.
  const auto* bytes =
      static_cast<const uint8_t*>(areas[0].addr) + (areas[0].first + offset * areas[0].step) / 8;
  size_t left = size * dac.frameBytes;
  while (left > 0) {
    const ssize_t done = write(dac.captureFd, bytes, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return -EIO;
    bytes += done;
    left -= static_cast<size_t>(done);
  }
  dac.written += size;
  dac.captured += size;
  return static_cast<snd_pcm_sframes_t>(size);
}

int dacHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  TestDac& dac = dacOf(io);
  dac.frameBytes =
      static_cast<size_t>(snd_pcm_format_physical_width(io->format)) * io->channels / 8;
  // alsa-lib's own defaults, until the software parameters arrive.
  dac.availMin = io->period_size;
  dac.stopThreshold = io->buffer_size;
  dac.boundary = std::numeric_limits<snd_pcm_uframes_t>::max();
  return 0;
}

int dacSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  TestDac& dac = dacOf(io);
  snd_pcm_sw_params_get_avail_min(params, &dac.availMin);
  dac.availMin = std::max<snd_pcm_uframes_t>(dac.availMin, 1);
  snd_pcm_sw_params_get_stop_threshold(params, &dac.stopThreshold);
  snd_pcm_sw_params_get_boundary(params, &dac.boundary);
  return 0;
}

int dacPrepare(snd_pcm_ioplug_t* io) {
  TestDac& dac = dacOf(io);
  if (dac.control.vanished()) return dac.unplug();
  dac.running = false;
  dac.xrun = false;
  dac.written = 0;
  dac.position = 0;
  // An application that polls before it writes finds room, as on a real card.
  dac.armNow();
  return 0;
}

// Our own drain, so that an unplug while draining reports -ENODEV as a real
// card does; alsa-lib's drains without a callback return 0 on any error.
int dacDrain(snd_pcm_ioplug_t* io) {
  TestDac& dac = dacOf(io);
  if (!dac.running) {
    if (dac.written == 0) return 0;
    dac.startPlaying();
  }
  for (;;) {
    if (dac.control.vanished()) return dac.unplug();
    const int64_t now = monotonicNs();
    const int64_t end = dac.clock.timeOf(dac.written);
    if (now >= end) return 0;
    if (io->nonblock) return -EAGAIN;
    const uint64_t boundaryFrames =
        (dac.clock.framesAt(now) / io->period_size + 1) * io->period_size;
    const timespec wake = toTimespec(std::min(end, dac.clock.timeOf(boundaryFrames)));
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
  }
}

int dacPollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents) {
  TestDac& dac = dacOf(io);
  *revents = 0;
  if (dac.control.vanished()) {
    dac.unplug();
    *revents = POLLERR;
    return 0;
  }
  dac.clearWake();
  if (!dac.running) {
    if (io->state != SND_PCM_STATE_PREPARED) {
      *revents = POLLERR;
      return 0;
    }
    // Before the start nothing plays: room stays room, as long as it lasts.
    if (dac.avail(0) >= dac.availMin) {
      dac.armNow();
      *revents = POLLOUT;
    }
    return 0;
  }
  const uint64_t played = dac.played(monotonicNs());
  if (io->state != SND_PCM_STATE_DRAINING && dac.starved(played)) {
    dac.xrun = true;
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
    *revents = POLLERR;
    return 0;
  }
  dac.armNextWake(played);
  if (dac.avail(played) >= dac.availMin) *revents = POLLOUT;
  return 0;
}

int dacClose(snd_pcm_ioplug_t* io) {
  delete &dacOf(io);
  return 0;
}

snd_pcm_ioplug_callback_t callbacks() {
  snd_pcm_ioplug_callback_t table{};
  table.start = dacStart;
  table.stop = dacStop;
  table.pointer = dacPointer;
  table.transfer = dacTransfer;
  table.close = dacClose;
  table.hw_params = dacHwParams;
  table.sw_params = dacSwParams;
  table.prepare = dacPrepare;
  table.drain = dacDrain;
  table.poll_revents = dacPollRevents;
  return table;
}

const snd_pcm_ioplug_callback_t kCallbacks = callbacks();

int openTestDac(snd_pcm_t** pcmp, const char* name, snd_config_t* conf, snd_pcm_stream_t stream,
                int mode) {
  DacSettings settings;
  if (const int err = parseDacSettings(conf, settings); err < 0) return err;
  if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;
  const ControlFiles control(settings.control);
  if (control.vanished()) return -ENODEV;
  if (control.busy()) return -EBUSY;

  auto dac = std::make_unique<TestDac>(settings.control);
  dac->captureFd = open(settings.capture.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (dac->captureFd < 0) return -errno;
  if (!settings.starts.empty()) {
    dac->startsFd = open(settings.starts.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (dac->startsFd < 0) return -errno;
  }
  dac->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (dac->timerFd < 0) return -errno;

  snd_pcm_ioplug_t& io = dac->io;
  io.version = SND_PCM_IOPLUG_VERSION;
  io.name = "TAVRO test DAC";
  io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC | SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
  io.callback = &kCallbacks;
  io.private_data = dac.get();
  io.poll_fd = dac->timerFd;
  io.poll_events = POLLIN;
  if (const int err = snd_pcm_ioplug_create(&io, name, stream, mode); err < 0) return err;
  // From here the close callback owns the device.
  TestDac* const owned = dac.release();
  // ioplug takes non-blocking mode only from snd_pcm_nonblock, not from the
  // open mode, and our drain asks this flag.
  owned->io.nonblock = (mode & SND_PCM_NONBLOCK) != 0;
  if (const int err = constrainHwParams(&owned->io, settings); err < 0) {
    snd_pcm_ioplug_delete(&owned->io);
    return err;
  }
  *pcmp = owned->io.pcm;
  return 0;
}

}  // namespace
}  // namespace tavro::testing

extern "C" {
SND_PCM_PLUGIN_DEFINE_FUNC(tavrotest) {
  (void)root;
  return tavro::testing::openTestDac(pcmp, name, conf, stream, mode);
}
SND_PCM_PLUGIN_SYMBOL(tavrotest)
}

#include "control/control_connection.h"
#include "control/error_texts.h"
#include "driver/process.h"
#include "driver/running_stream.h"
#include "driver/starting_thread.h"
#include "driver/stream_readiness.h"
#include "driver/vantrel.h"
#include "stream/dsd_rates.h"
#include "stream/removable_drive.h"

namespace tavro::driver {

asio::AsioError Vantrel::start() noexcept {
  {
    const std::unique_lock<std::mutex> turn = takeStopTurn();
    // One stream per process: a second start would replace what the running
    // stream's thread reads.
    if (streamRunning()) return report(control::failed(control::errors::kAlreadyStreaming));
  }
  // A stream that ended by itself may have left its thread to wait for.
  releaseEndedStream();

  // What can be refused without the streamer is refused before anything is
  // sent to it or opened: an announced format makes the streamer wait for
  // a stream.
  if (prepared == nullptr) return report(control::failed(nullptr));
  // Only a stream stopped from its own thread is still held here.
  if (prepared->running != nullptr) {
    return report(control::failed(control::errors::kAlreadyStreaming));
  }
  // One reading of what host calls may change at any moment.
  const OutputBufferState buffers = outputBufferState();
  if (stream::isUnsupportedDsdGap(buffers.sampleRate)) {
    return report(control::failed(control::errors::kSampleRateNotSupported));
  }
  if (const char* refusal = refusalText(checkOutputBuffers(buffers))) {
    return report(control::failed(refusal));
  }

  StartingThread startingThread;
  if (!process().connection.open()) {
    if (const control::Outcome opened =
            control::openControlConnection(process().connection, streamer);
        !opened.ok()) {
      return report(opened);
    }
  }
  if (streamer.settings.driveMode != 0 && !stream::findRemovableDrive(streamer, drivePath)) {
    return report(control::failed(control::Notification::kNoRemovableDrive));
  }
  if (streamer.settings.driveMode == 0) drivePath.clear();

  // From here on a failure closes the connection, which tells the streamer,
  // and releases whatever was made: all of it belongs to the running state.
  return report(RunningStream::start({streamer, prepared->buffers, streamState, samplePosition,
                                      drivePath, buffers.sampleRate, buffers.bufferFrames},
                                     startingThread, prepared->running));
}

}  // namespace tavro::driver

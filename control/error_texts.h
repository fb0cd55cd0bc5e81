#pragma once
// Every text a user can read from getErrorMessage. Hosts show them verbatim.

namespace tavro::control::errors {

inline constexpr char kOpenFailure[] = "TAVROdriver open failure!";
inline constexpr char kHostNotSet[] = "TAVRODriver Host not set!";
inline constexpr char kCannotCreateSocket[] = "Unable to create socket!";
inline constexpr char kCannotConnectStreamer[] =
    "Unable to connect to TAVROStreamer: Is server running?";
inline constexpr char kCannotSendToStreamer[] =
    "Unable to send data to TAVROStreamer: Is server running?";
inline constexpr char kNoResponse[] = "Error receiving response from TAVROStreamer";
inline constexpr char kCannotConnectData[] = "Unable to connect to TAVRO: Is server running?";

// Refusals of start, before anything is announced or packed.
inline constexpr char kSampleRateNotSupported[] = "Sample rate not supported by TAVROStreamer";
inline constexpr char kOutputBuffersMissing[] =
    "TAVRODriver needs buffers for both output channels";
inline constexpr char kOutputBuffersMismatch[] = "TAVRODriver buffers do not match the buffer size";
inline constexpr char kAlreadyStreaming[] = "TAVRODriver is already streaming: stop first";
inline constexpr char kNoStreamThread[] = "TAVRODriver could not start its streaming thread";

}  // namespace tavro::control::errors

#pragma once
// Every text a user can read from getErrorMessage. Hosts show them verbatim.

namespace tavro::driver::errors {

inline constexpr char kOpenFailure[] = "TAVROdriver open failure!";
inline constexpr char kHostNotSet[] = "TAVRODriver Host not set!";
inline constexpr char kCannotCreateSocket[] = "Unable to create socket!";
inline constexpr char kCannotConnectStreamer[] =
    "Unable to connect to TAVROStreamer: Is server running?";
inline constexpr char kCannotSendToStreamer[] =
    "Unable to send data to TAVROStreamer: Is server running?";
inline constexpr char kNoResponse[] = "Error receiving response from TAVROStreamer";
inline constexpr char kCannotConnectData[] = "Unable to connect to TAVRO: Is server running?";

}  // namespace tavro::driver::errors

#pragma once
// The installed ASIO drivers as the sink sees them: found and created the way
// hosts do (HKLM\SOFTWARE\ASIO, then Windows' COM), never the TAVRO Driver
// itself, which would feed the sink its own stream.
#include <memory>
#include <string>
#include <vector>

#include "asio/asio.h"
#include "sink/output/device_list.h"

namespace tavro::asio_host {
class ComDriver;
}

namespace tavro::sink {

inline constexpr char kAsioPrefix[] = "ASIO: ";

// "ASIO: Some DAC" -> "Some DAC"; empty when `deviceName` is no ASIO name.
std::string asioDriverName(const std::string& deviceName);

// One created and initialised driver, released (buffers first) when it goes.
class AsioDriverHandle {
 public:
  // Null, with `error` in the driver's own words where it gave any.
  static std::unique_ptr<AsioDriverHandle> create(const std::string& driverName,
                                                  std::string& error);
  ~AsioDriverHandle();
  AsioDriverHandle(const AsioDriverHandle&) = delete;
  AsioDriverHandle& operator=(const AsioDriverHandle&) = delete;

  asio::IAsio& driver() { return *driver_; }
  std::string errorText();
  // After createBuffers succeeded: disposeBuffers is owed before release.
  void buffersMade() { buffersMade_ = true; }

 private:
  AsioDriverHandle() = default;
  std::unique_ptr<asio_host::ComDriver> com_;
  asio::IAsio* driver_ = nullptr;
  bool buffersMade_ = false;
};

// "ASIO: <name>" for each installed driver other than ours, in registry order.
std::vector<std::string> asioDeviceNames();

// What each driver takes, asked of it: as tavro-sink --list-devices prints.
void listAsioDevices(const LinePrinter& print);
// What the driver `deviceName` names takes, or why it cannot be asked.
std::string describeAsioOffer(const std::string& deviceName);

}  // namespace tavro::sink

#pragma once
// Finds and creates ASIO drivers the way Windows hosts do: the subkeys of
// HKLM\SOFTWARE\ASIO name them, and Windows' own COM creates the object from
// the InprocServer32 key the driver's DllRegisterServer wrote.
#include <string>
#include <vector>

#include "asio/asio.h"

namespace tavro::asio_host {

struct InstalledDriver {
  std::string name;         // the subkey's name, which hosts show
  std::string clsid;        // its "CLSID" value, "{...}"
  std::string description;  // its "Description" value
};

// Every subkey of HKLM\SOFTWARE\ASIO in this program's registry view (a
// 32-bit host sees the 32-bit drivers). False, with `error`, when the list
// cannot be read; a subkey without a CLSID is listed with an empty one.
bool installedDrivers(std::vector<InstalledDriver>& out, std::string& error);

// CoInitialize, then CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
// clsid, ...): hosts pass the class id as the interface id.
class ComDriver {
 public:
  explicit ComDriver(const InstalledDriver& entry);
  ~ComDriver();
  ComDriver(const ComDriver&) = delete;
  ComDriver& operator=(const ComDriver&) = delete;

  // Null, with `error()`, when the object could not be created. Owned by the
  // caller, who releases it before this object goes.
  asio::IAsio* driver() const { return driver_; }
  const std::string& error() const { return error_; }

 private:
  bool initialized_ = false;
  asio::IAsio* driver_ = nullptr;
  std::string error_;
};

}  // namespace tavro::asio_host

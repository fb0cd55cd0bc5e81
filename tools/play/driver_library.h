#pragma once
// Loads the driver library and creates a driver as an ASIO host does.
#include <string>

#include "asio/asio.h"

namespace tavro::play {

class DriverLibrary {
 public:
  // Loads the library at `path`; check `error()` afterwards.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  const std::string& error() const { return error_; }
  // DllGetClassObject, then CreateInstance with the class id as interface id.
  asio::IAsio* createDriver();
  // DllCanUnloadNow: true when the library holds no object or lock.
  bool canUnload();

 private:
  void* symbol(const char* name);

  void* module_ = nullptr;
  std::string error_;
};

}  // namespace tavro::play

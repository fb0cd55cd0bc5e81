#pragma once
// Loads a shared library the way a host loads the driver: LoadLibraryA and
// GetProcAddress on Windows, dlopen and dlsym elsewhere. Unloads it again when
// it goes out of scope.
#include <filesystem>
#include <string>

namespace tavro::testing {

class LoadedModule {
 public:
  explicit LoadedModule(const std::filesystem::path& path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // Why loading failed, for test messages; empty when it did not.
  const std::string& error() const { return error_; }

  // The exported symbol `name`, or null.
  void* symbol(const char* name) const;
  template <typename Function>
  Function function(const char* name) const {
    return reinterpret_cast<Function>(symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace tavro::testing

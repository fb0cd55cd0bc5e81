#include "support/module_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tavro::testing {

#if defined(_WIN32)

LoadedModule::LoadedModule(const std::filesystem::path& path) {
  // The driver finds itself by file name, so it is loaded by its full path
  // under its own name, as regsvr32 and hosts do.
  handle_ = LoadLibraryA(path.string().c_str());
  if (handle_ == nullptr)
    error_ = "LoadLibraryA failed with error " + std::to_string(GetLastError());
}

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* LoadedModule::symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

#else

LoadedModule::LoadedModule(const std::filesystem::path& path) {
  // Local binding: the test program's own symbols must not stand in for the
  // library's, nor the library's for the program's.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : "dlopen failed";
  }
}

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* LoadedModule::symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return dlsym(handle_, name);
}

#endif

}  // namespace tavro::testing

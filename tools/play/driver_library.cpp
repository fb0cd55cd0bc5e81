#include "play/driver_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "com/class_id.h"

namespace tavro::play {

using GetClassObject = com::HResult(TAVRO_STDCALL*)(const com::Guid*, const com::Guid*, void**);
using CanUnloadNow = com::HResult(TAVRO_STDCALL*)();

DriverLibrary::DriverLibrary(const std::string& path) {
#if defined(_WIN32)
  module_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (module_ == nullptr)
    error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
#else
  module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) error_ = dlerror();
#endif
}

DriverLibrary::~DriverLibrary() {
  if (module_ == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(module_));
#else
  dlclose(module_);
#endif
}

void* DriverLibrary::symbol(const char* name) {
  if (module_ == nullptr) return nullptr;
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name));
#else
  return dlsym(module_, name);
#endif
}

asio::IAsio* DriverLibrary::createDriver() {
  auto getClassObject = reinterpret_cast<GetClassObject>(symbol("DllGetClassObject"));
  if (getClassObject == nullptr) {
    error_ = "the library exports no DllGetClassObject";
    return nullptr;
  }
  com::IClassFactory* factory = nullptr;
  com::HResult result = getClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory,
                                       reinterpret_cast<void**>(&factory));
  if (result != com::kSOk) {
    error_ = "DllGetClassObject failed: " + std::to_string(result);
    return nullptr;
  }
  void* driver = nullptr;
  result = factory->CreateInstance(nullptr, com::kClsidTavroDriver, &driver);
  factory->Release();
  if (result != com::kSOk) {
    error_ = "CreateInstance failed: " + std::to_string(result);
    return nullptr;
  }
  return static_cast<asio::IAsio*>(driver);
}

bool DriverLibrary::canUnload() {
  auto canUnloadNow = reinterpret_cast<CanUnloadNow>(symbol("DllCanUnloadNow"));
  return canUnloadNow != nullptr && canUnloadNow() == com::kSOk;
}

}  // namespace tavro::play

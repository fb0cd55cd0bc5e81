// The stand-in DAC as Windows loads an ASIO driver: a COM in-process server
// that regsvr32 registers under HKCR\CLSID and HKLM\SOFTWARE\ASIO.
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>

#include "asio_dac/test_dac.h"

namespace {

using tavro::testing::kTestDacClassId;
using tavro::testing::kTestDacName;
using tavro::testing::liveTestDacObjects;
namespace com = tavro::com;

HMODULE thisModule = nullptr;
std::atomic<int32_t> serverLocks{0};

class Factory final : public com::IClassFactory {
 public:
  com::HResult TAVRO_STDCALL QueryInterface(const com::Guid& iid, void** out) override {
    if (out == nullptr) return com::kEPointer;
    if (iid == com::kIidIUnknown || iid == com::kIidIClassFactory) {
      *out = this;
      return com::kSOk;
    }
    *out = nullptr;
    return com::kENoInterface;
  }
  // One factory for the module's life: nothing to count.
  uint32_t TAVRO_STDCALL AddRef() override { return 2; }
  uint32_t TAVRO_STDCALL Release() override { return 1; }
  com::HResult TAVRO_STDCALL CreateInstance(com::IUnknown* outer, const com::Guid& iid,
                                            void** out) override {
    if (out == nullptr) return com::kEPointer;
    *out = nullptr;
    if (outer != nullptr) return static_cast<com::HResult>(0x80040110u);  // no aggregation
    auto* dac = new (std::nothrow) tavro::testing::TestDac;
    if (dac == nullptr) return com::kEOutOfMemory;
    const com::HResult result = dac->QueryInterface(iid, out);
    dac->Release();
    return result;
  }
  com::HResult TAVRO_STDCALL LockServer(int32_t lock) override {
    serverLocks += lock != 0 ? 1 : -1;
    return com::kSOk;
  }
};
Factory factory;

std::string classIdText() {
  const com::Guid& g = kTestDacClassId;
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

bool setValue(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG set = RegSetValueExA(opened, name, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
  RegCloseKey(opened);
  return set == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) thisModule = instance;
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(const com::Guid& classId, const com::Guid& iid,
                                         void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!(classId == kTestDacClassId)) return static_cast<HRESULT>(com::kClassENotAvailable);
  return factory.QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return liveTestDacObjects().load() == 0 && serverLocks.load() == 0 ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  char path[MAX_PATH] = {};
  if (GetModuleFileNameA(thisModule, path, MAX_PATH) == 0) return E_FAIL;
  const std::string classKey = "CLSID\\" + classIdText();
  const std::string asioKey = std::string("SOFTWARE\\ASIO\\") + kTestDacName;
  const bool written = setValue(HKEY_CLASSES_ROOT, classKey, nullptr, kTestDacName) &&
                       setValue(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr, path) &&
                       setValue(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32",
                                "ThreadingModel", "Apartment") &&
                       setValue(HKEY_LOCAL_MACHINE, asioKey, "CLSID", classIdText()) &&
                       setValue(HKEY_LOCAL_MACHINE, asioKey, "Description", kTestDacName);
  return written ? S_OK : static_cast<HRESULT>(com::kSelfRegEClass);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + classIdText()).c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\ASIO\\") + kTestDacName).c_str());
  return S_OK;
}

}  // extern "C"

#include "support/driver_fixture.h"

#include "com/class_id.h"
#include "com/exports.h"
#include "support/process_state.h"

namespace tavro::testing {

asio::IAsio* createDriver() {
  com::IClassFactory* factory = nullptr;
  if (DllGetClassObject(&com::kClsidTavroDriver, &com::kIidIClassFactory,
                        reinterpret_cast<void**>(&factory)) != com::kSOk) {
    return nullptr;
  }
  void* driver = nullptr;
  const com::HResult result = factory->CreateInstance(nullptr, com::kClsidTavroDriver, &driver);
  factory->Release();
  return result == com::kSOk ? static_cast<asio::IAsio*>(driver) : nullptr;
}

void DriverTest::SetUp() {
  resetProcessState();
  setEnv("TAVRO_REGISTRY_DIR", (scratch / "registry").string());
}

void DriverTest::TearDown() {
  resetProcessState();
  unsetEnv("TAVRO_REGISTRY_DIR");
}

}  // namespace tavro::testing

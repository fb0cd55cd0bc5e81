#include "support/driver_fixture.h"

#include "com/class_id.h"
#include "com/exports.h"
#include "control/control_connection.h"
#include "driver/process.h"
#include "platform/fault.h"
#include "stream/stream_control.h"

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

namespace {

void resetProcessState() {
  control::closeControlConnection(driver::process().connection);
  stream::releaseDataTransport(driver::process().stream);
  driver::process().stream.streamStopped.store(true);
  driver::process().stream.running.store(nullptr);
  platform::resetCallCounts();
}

}  // namespace

void DriverTest::SetUp() {
  resetProcessState();
  setEnv("TAVRO_REGISTRY_DIR", (scratch / "registry").string());
}

void DriverTest::TearDown() {
  resetProcessState();
  unsetEnv("TAVRO_REGISTRY_DIR");
}

}  // namespace tavro::testing

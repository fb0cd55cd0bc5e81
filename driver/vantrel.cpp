#include "driver/vantrel.h"

#include <cstring>
#include <new>

#include "com/class_id.h"
#include "driver/process.h"
#include "platform/desktop.h"
#include "platform/log.h"

namespace tavro::driver {

Vantrel::Vantrel(com::IUnknown* outer) noexcept : com::CUnknown("TAVRODriver", outer) {}

com::CUnknown* Vantrel::create(com::IUnknown* outer, com::HResult* /*result*/) noexcept {
  auto* object = new (std::nothrow) Vantrel(outer);
  if (object == nullptr) return nullptr;
  // A stream left running by an earlier driver object in this process is ended
  // here, since only one stream can run per process.
  if (process().driverCreated.load(std::memory_order_acquire)) object->stop();
  process().driverCreated.store(true, std::memory_order_release);
  // Each object holds one Winsock reference and its destructor returns it.
  platform::netStartup();
  return object;
}

Vantrel::~Vantrel() {
  stop();
  releaseStreamResources();
  platform::netCleanup();
}

com::HResult Vantrel::QueryInterface(const com::Guid& iid, void** out) {
  return owner()->QueryInterface(iid, out);
}

uint32_t Vantrel::AddRef() { return owner()->AddRef(); }

uint32_t Vantrel::Release() { return owner()->Release(); }

com::HResult Vantrel::InnerQueryInterface(const com::Guid& iid, void** out) {
  if (iid == com::kClsidTavroDriver) return getInterface(static_cast<asio::IAsio*>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

void Vantrel::getDriverName(char* name) noexcept {
  std::memcpy(name, kDriverName, sizeof kDriverName);
}

int32_t Vantrel::getDriverVersion() noexcept { return kDriverVersion; }

void Vantrel::getErrorMessage(char* text) noexcept { errorText.copyTo(text); }

asio::AsioError Vantrel::report(const control::Outcome& outcome) noexcept {
  if (outcome.text != nullptr) errorText.set(outcome.text);
  if (outcome.notification != control::Notification::kNone) notify(outcome.notification);
  return outcome.result;
}

void Vantrel::notify(control::Notification code) const noexcept {
  char text[kErrorTextSize];
  errorText.copyTo(text);
  platform::log::line("notification %u, error text: %s", static_cast<uint32_t>(code), text);
  platform::broadcastMessage(notifyMessage, static_cast<uintptr_t>(code));
}

void Vantrel::releaseStreamResources() noexcept {
  // The stream ends before the callbacks it calls are forgotten.
  stop();
  {
    const std::unique_lock<std::mutex> turn = takeStopTurn();
    const std::lock_guard<std::recursive_mutex> guard(callbacksGuard);
    prepared.reset();
  }
  closeControlConnection();
}

}  // namespace tavro::driver

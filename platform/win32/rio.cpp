#include "platform/rio.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "platform/fault.h"
#include "platform/win32/rio_declarations.h"

namespace tavro::platform {
namespace {

using namespace win32;

// The portable records are handed to the system as they are.
static_assert(sizeof(RioBuf) == sizeof(RIO_BUF));
static_assert(offsetof(RioBuf, offset) == offsetof(RIO_BUF, Offset));
static_assert(offsetof(RioBuf, length) == offsetof(RIO_BUF, Length));
static_assert(sizeof(RioResult) == sizeof(RIORESULT));
static_assert(offsetof(RioResult, requestContext) == offsetof(RIORESULT, RequestContext));
static_assert(sizeof(RioTable) == sizeof(RIO_EXTENSION_FUNCTION_TABLE));
static_assert(alignof(RioTable) >= alignof(RIO_EXTENSION_FUNCTION_TABLE));

const RIO_EXTENSION_FUNCTION_TABLE& functions(const RioTable& table) noexcept {
  return *std::launder(reinterpret_cast<const RIO_EXTENSION_FUNCTION_TABLE*>(table.bytes));
}

// The system fills the table; a table that was never filled holds nulls, and
// calling through one fails here instead of jumping to address 0.
bool loaded(const RioTable& table) noexcept {
  return functions(table).cbSize == sizeof(RIO_EXTENSION_FUNCTION_TABLE) &&
         functions(table).RIOSend != nullptr;
}

RIO_BUF* slices(const RioBuf* slice) noexcept {
  return reinterpret_cast<RIO_BUF*>(const_cast<RioBuf*>(slice));
}

}  // namespace

bool rioLoadTable(Socket socket, RioTable* table) noexcept {
  auto* target = new (table->bytes) RIO_EXTENSION_FUNCTION_TABLE{};
  if (injected(Call::WSAIoctl)) return false;
  target->cbSize = sizeof *target;
  GUID id = WSAID_MULTIPLE_RIO;
  DWORD returned = 0;
  if (::WSAIoctl(static_cast<SOCKET>(socket), SIO_GET_MULTIPLE_EXTENSION_FUNCTION_POINTER, &id,
                 sizeof id, target, sizeof *target, &returned, nullptr, nullptr) != 0) {
    *target = {};
    return false;
  }
  target->cbSize = sizeof *target;
  return loaded(*table);
}

RioBufferId rioRegisterBuffer(const RioTable& table, void* data, uint32_t length) noexcept {
  if (injected(Call::RIORegisterBuffer) || !loaded(table)) return kRioInvalidBufferId;
  const RIO_BUFFERID id = functions(table).RIORegisterBuffer(static_cast<PCHAR>(data), length);
  return reinterpret_cast<RioBufferId>(id);
}

void rioDeregisterBuffer(const RioTable& table, RioBufferId buffer) noexcept {
  if (injected(Call::RIODeregisterBuffer) || !loaded(table)) return;
  functions(table).RIODeregisterBuffer(reinterpret_cast<RIO_BUFFERID>(buffer));
}

RioCq rioCreateCompletionQueue(const RioTable& table, uint32_t size, KernelHandle event) noexcept {
  if (injected(Call::RIOCreateCompletionQueue) || !loaded(table)) return kRioInvalidCq;
  RIO_NOTIFICATION_COMPLETION notification{};
  notification.Type = RIO_EVENT_COMPLETION;
  notification.Event.EventHandle = event;
  notification.Event.NotifyReset = TRUE;
  const RIO_CQ queue =
      functions(table).RIOCreateCompletionQueue(size, event != nullptr ? &notification : nullptr);
  return reinterpret_cast<RioCq>(queue);
}

RioRq rioCreateRequestQueue(const RioTable& table, Socket socket, uint32_t maxReceives,
                            uint32_t maxSends, RioCq receiveQueue, RioCq sendQueue,
                            void* socketContext) noexcept {
  if (injected(Call::RIOCreateRequestQueue) || !loaded(table)) return kRioInvalidRq;
  const RIO_RQ queue = functions(table).RIOCreateRequestQueue(
      static_cast<SOCKET>(socket), maxReceives, 1, maxSends, 1,
      reinterpret_cast<RIO_CQ>(receiveQueue), reinterpret_cast<RIO_CQ>(sendQueue), socketContext);
  return reinterpret_cast<RioRq>(queue);
}

bool rioSend(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t flags,
             void* requestContext) noexcept {
  if (injected(Call::RIOSend) || !loaded(table)) return false;
  return functions(table).RIOSend(reinterpret_cast<RIO_RQ>(queue), slices(slice), 1, flags,
                                  requestContext) != FALSE;
}

bool rioReceive(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t flags,
                void* requestContext) noexcept {
  if (injected(Call::RIOReceive) || !loaded(table)) return false;
  return functions(table).RIOReceive(reinterpret_cast<RIO_RQ>(queue), slices(slice), 1, flags,
                                     requestContext) != FALSE;
}

uint32_t rioDequeue(const RioTable& table, RioCq queue, RioResult* results,
                    uint32_t count) noexcept {
  int64_t value = 0;
  if (injected(Call::RIODequeueCompletion, &value)) return value == 1 ? 0 : kRioCorruptCq;
  if (!loaded(table)) return kRioCorruptCq;
  return functions(table).RIODequeueCompletion(reinterpret_cast<RIO_CQ>(queue),
                                               reinterpret_cast<RIORESULT*>(results), count);
}

int32_t rioNotify(const RioTable& table, RioCq queue) noexcept {
  if (injected(Call::RIONotify)) return WSAEINVAL;
  if (!loaded(table)) return WSAEINVAL;
  return functions(table).RIONotify(reinterpret_cast<RIO_CQ>(queue));
}

void rioCloseCompletionQueue(const RioTable& table, RioCq queue) noexcept {
  if (injected(Call::RIOCloseCompletionQueue) || !loaded(table)) return;
  functions(table).RIOCloseCompletionQueue(reinterpret_cast<RIO_CQ>(queue));
}

}  // namespace tavro::platform

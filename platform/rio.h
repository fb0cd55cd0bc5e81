#pragma once
// Registered I/O: one buffer registered with the system up front, datagrams
// sent and received as slices of it, completions taken from queues without a
// system call each. Winsock's extension on Windows; an io_uring engine with
// the same contract on Linux.
//
// As on Windows, a request queue and each completion queue are used by one
// thread at a time: the caller serialises sends, receives and dequeues on the
// same queue.
#include <cstdint>

#include "platform/net.h"
#include "platform/sync.h"

namespace tavro::platform {

using RioBufferId = uintptr_t;
using RioCq = uintptr_t;
using RioRq = uintptr_t;

inline constexpr RioBufferId kRioInvalidBufferId = 0xFFFFFFFF;
inline constexpr RioCq kRioInvalidCq = 0;
inline constexpr RioRq kRioInvalidRq = 0;
// What a dequeue returns for a queue that is broken (or, here, closed).
inline constexpr uint32_t kRioCorruptCq = 0xFFFFFFFF;
// A send whose completion is to be polled, never notified.
inline constexpr uint32_t kRioMsgDontNotify = 0x1;

// A slice of a registered buffer, laid out as RIO_BUF.
struct RioBuf {
  RioBufferId bufferId;
  uint32_t offset;
  uint32_t length;
};

// One completion, laid out as RIORESULT. `requestContext` is what the send or
// receive was posted with.
struct RioResult {
  int32_t status;
  uint32_t bytesTransferred;
  uint64_t socketContext;
  uint64_t requestContext;
};

// The extension function table fetched for one socket, as the system lays it
// out (RIO_EXTENSION_FUNCTION_TABLE: a 32-bit size, then 13 pointers).
struct RioTable {
  alignas(void*) unsigned char bytes[sizeof(void*) == 8 ? 112 : 56];
};

// WSAIoctl(SIO_GET_MULTIPLE_EXTENSION_FUNCTION_POINTER, WSAID_MULTIPLE_RIO).
// False where the system has no Registered I/O (Wine; a Linux that refuses
// io_uring). Every other call needs a table this filled.
bool rioLoadTable(Socket socket, RioTable* table) noexcept;

// RIORegisterBuffer; kRioInvalidBufferId on failure. RIODeregisterBuffer must
// come before the memory is freed.
RioBufferId rioRegisterBuffer(const RioTable& table, void* data, uint32_t length) noexcept;
void rioDeregisterBuffer(const RioTable& table, RioBufferId buffer) noexcept;

// RIOCreateCompletionQueue of `size` entries. With an event, completions are
// announced through it (RIO_EVENT_COMPLETION, NotifyReset) once RIONotify has
// armed the queue; without one the queue is only polled.
RioCq rioCreateCompletionQueue(const RioTable& table, uint32_t size, KernelHandle event) noexcept;

// RIOCreateRequestQueue with one data buffer per request. It ends with its
// socket (on Linux with the last of its completion queues).
RioRq rioCreateRequestQueue(const RioTable& table, Socket socket, uint32_t maxReceives,
                            uint32_t maxSends, RioCq receiveQueue, RioCq sendQueue,
                            void* socketContext) noexcept;

// RIOSend / RIOReceive of one slice. False when the request cannot be posted,
// for instance because `max` requests of its kind are already outstanding (a
// request counts until its completion has been dequeued).
bool rioSend(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t flags,
             void* requestContext) noexcept;
bool rioReceive(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t flags,
                void* requestContext) noexcept;

// RIODequeueCompletion: the number of results taken, 0 for none, or
// kRioCorruptCq. An injected fault returns kRioCorruptCq, or 0 (an empty
// queue) when its plan's value is 1.
uint32_t rioDequeue(const RioTable& table, RioCq queue, RioResult* results,
                    uint32_t count) noexcept;

// RIONotify: resets the queue's event and arms it; it is set once at the
// next completion, or at once if one is waiting. 0, or an error code.
int32_t rioNotify(const RioTable& table, RioCq queue) noexcept;

// RIOCloseCompletionQueue.
void rioCloseCompletionQueue(const RioTable& table, RioCq queue) noexcept;

}  // namespace tavro::platform

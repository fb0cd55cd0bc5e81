// Registered I/O over io_uring. Each completion queue is a ring of its own;
// a request queue posts its sends into its send queue's ring and its receives
// into its receive queue's ring, so the two sides never share a submission
// queue. The registered buffer is a fixed buffer of every ring, and slices go
// out and come in with WRITE_FIXED and READ_FIXED on the connected socket.
#include "platform/rio.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/fault.h"
#include "platform/posix/event_handle.h"

namespace tavro::platform {
namespace {

constexpr uint32_t kMaxBuffers = 4;
constexpr uint32_t kMaxQueues = 16;
constexpr uint32_t kMaxRequestQueues = 8;
constexpr uint32_t kTableMark = 0x52494F31;  // "RIO1"
constexpr int32_t kWsaEinval = 10022;
constexpr int32_t kWsaEalready = 10037;

// A handle names a table entry and the generation it was made in, so that a
// handle to a queue that has been closed is refused instead of used.
uintptr_t handleOf(uint32_t index, uint32_t generation) noexcept {
  return (static_cast<uintptr_t>(generation) << 8) | (index + 1);
}
uint32_t indexOf(uintptr_t handle) noexcept { return static_cast<uint32_t>(handle & 0xFF) - 1; }
uint32_t generationOf(uintptr_t handle) noexcept { return static_cast<uint32_t>(handle >> 8); }

struct Registration {
  void* data = nullptr;
  uint32_t length = 0;
  uint32_t generation = 0;
  bool used = false;
};

struct CompletionQueue {
  std::atomic<bool> used{false};
  std::atomic<uint32_t> generation{0};
  io_uring ring{};
  int eventFd = -1;  // -1: polled only
};

struct RequestQueue;

struct Request {
  uint64_t context = 0;
  RequestQueue* owner = nullptr;
  Request* next = nullptr;
  bool send = false;
};

// Requests of one kind; a request is taken when posted and given back when
// its completion is dequeued, which is what limits the outstanding count.
struct RequestPool {
  std::unique_ptr<Request[]> requests;
  Request* free = nullptr;

  bool make(uint32_t count, RequestQueue* owner, bool send) noexcept {
    requests.reset(new (std::nothrow) Request[count]);
    if (!requests) return false;
    free = nullptr;
    for (uint32_t i = count; i-- > 0;) {
      requests[i].owner = owner;
      requests[i].send = send;
      requests[i].next = free;
      free = &requests[i];
    }
    return true;
  }
  Request* take() noexcept {
    Request* request = free;
    if (request != nullptr) free = request->next;
    return request;
  }
  void give(Request* request) noexcept {
    request->next = free;
    free = request;
  }
};

struct RequestQueue {
  std::atomic<bool> used{false};
  std::atomic<uint32_t> generation{0};
  int fd = -1;
  uint64_t socketContext = 0;
  uint32_t sendQueue = 0;  // indices of the completion queues
  uint32_t receiveQueue = 0;
  bool sendQueueOpen = false;
  bool receiveQueueOpen = false;
  RequestPool sends;
  RequestPool receives;
};

struct Engine {
  std::mutex lock;  // creation and closing only, never a send or a dequeue
  Registration buffers[kMaxBuffers];
  CompletionQueue queues[kMaxQueues];
  RequestQueue requestQueues[kMaxRequestQueues];
};

Engine& engine() noexcept {
  static Engine instance;
  return instance;
}

bool tableLoaded(const RioTable& table) noexcept {
  uint32_t mark = 0;
  std::memcpy(&mark, table.bytes, sizeof mark);
  return mark == kTableMark;
}

CompletionQueue* queueOf(RioCq handle) noexcept {
  const uint32_t index = indexOf(handle);
  if (handle == kRioInvalidCq || index >= kMaxQueues) return nullptr;
  CompletionQueue& queue = engine().queues[index];
  if (!queue.used.load(std::memory_order_acquire) ||
      queue.generation.load(std::memory_order_relaxed) != generationOf(handle)) {
    return nullptr;
  }
  return &queue;
}

RequestQueue* requestQueueOf(RioRq handle) noexcept {
  const uint32_t index = indexOf(handle);
  if (handle == kRioInvalidRq || index >= kMaxRequestQueues) return nullptr;
  RequestQueue& queue = engine().requestQueues[index];
  if (!queue.used.load(std::memory_order_acquire) ||
      queue.generation.load(std::memory_order_relaxed) != generationOf(handle)) {
    return nullptr;
  }
  return &queue;
}

// The fixed-buffer index of a slice, with its bounds checked against the
// registration, or -1.
int fixedIndexOf(const RioBuf& slice) noexcept {
  const uint32_t index = indexOf(slice.bufferId);
  if (slice.bufferId == kRioInvalidBufferId || index >= kMaxBuffers) return -1;
  const Registration& buffer = engine().buffers[index];
  if (!buffer.used || buffer.generation != generationOf(slice.bufferId)) return -1;
  if (slice.length == 0 || slice.offset > buffer.length ||
      slice.length > buffer.length - slice.offset) {
    return -1;
  }
  return static_cast<int>(index);
}

int setFixedBuffer(io_uring& ring, uint32_t index, void* data, uint32_t length) noexcept {
  iovec entry{data, length};
  return io_uring_register_buffers_update_tag(&ring, index, &entry, nullptr, 1);
}

void releaseRequestQueue(RequestQueue& queue) noexcept {
  queue.sends.requests.reset();
  queue.receives.requests.reset();
  queue.fd = -1;
  queue.generation.fetch_add(1, std::memory_order_relaxed);
  queue.used.store(false, std::memory_order_release);
}

bool post(RioRq handle, const RioBuf* slice, void* requestContext, bool send) noexcept {
  RequestQueue* queue = requestQueueOf(handle);
  if (queue == nullptr || slice == nullptr) return false;
  const int fixed = fixedIndexOf(*slice);
  if (fixed < 0) return false;
  if (send ? !queue->sendQueueOpen : !queue->receiveQueueOpen) return false;
  CompletionQueue& target = engine().queues[send ? queue->sendQueue : queue->receiveQueue];
  RequestPool& pool = send ? queue->sends : queue->receives;
  Request* request = pool.take();
  if (request == nullptr) {
    errno = ENOBUFS;
    return false;
  }
  io_uring_sqe* entry = io_uring_get_sqe(&target.ring);
  if (entry == nullptr) {
    pool.give(request);
    return false;
  }
  char* data = static_cast<char*>(engine().buffers[fixed].data) + slice->offset;
  if (send) {
    io_uring_prep_write_fixed(entry, queue->fd, data, slice->length, 0, fixed);
  } else {
    io_uring_prep_read_fixed(entry, queue->fd, data, slice->length, 0, fixed);
  }
  request->context = reinterpret_cast<uintptr_t>(requestContext);
  io_uring_sqe_set_data(entry, request);
  if (io_uring_submit(&target.ring) < 1) {
    pool.give(request);
    return false;
  }
  return true;
}

}  // namespace

bool rioLoadTable(Socket socket, RioTable* table) noexcept {
  std::memset(table->bytes, 0, sizeof table->bytes);
  if (injected(Call::WSAIoctl)) return false;
  int type = 0;
  socklen_t length = sizeof type;
  if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_TYPE, &type, &length) != 0 ||
      type != SOCK_DGRAM) {
    return false;
  }
  // A kernel without io_uring, or one that refuses it to this process, has
  // no Registered I/O to offer.
  io_uring probe;
  if (io_uring_queue_init(2, &probe, 0) != 0) return false;
  io_uring_queue_exit(&probe);
  std::memcpy(table->bytes, &kTableMark, sizeof kTableMark);
  return true;
}

RioBufferId rioRegisterBuffer(const RioTable& table, void* data, uint32_t length) noexcept {
  if (injected(Call::RIORegisterBuffer) || !tableLoaded(table)) return kRioInvalidBufferId;
  if (data == nullptr || length == 0) return kRioInvalidBufferId;
  Engine& all = engine();
  std::lock_guard<std::mutex> hold(all.lock);
  for (uint32_t index = 0; index < kMaxBuffers; ++index) {
    Registration& buffer = all.buffers[index];
    if (buffer.used) continue;
    for (CompletionQueue& queue : all.queues) {
      if (queue.used.load(std::memory_order_relaxed) &&
          setFixedBuffer(queue.ring, index, data, length) < 0) {
        for (CompletionQueue& undo : all.queues) {
          if (undo.used.load(std::memory_order_relaxed))
            setFixedBuffer(undo.ring, index, nullptr, 0);
        }
        return kRioInvalidBufferId;
      }
    }
    buffer = {data, length, buffer.generation + 1, true};
    return handleOf(index, buffer.generation);
  }
  return kRioInvalidBufferId;
}

void rioDeregisterBuffer(const RioTable& table, RioBufferId id) noexcept {
  if (injected(Call::RIODeregisterBuffer) || !tableLoaded(table)) return;
  Engine& all = engine();
  std::lock_guard<std::mutex> hold(all.lock);
  const uint32_t index = indexOf(id);
  if (id == kRioInvalidBufferId || index >= kMaxBuffers) return;
  Registration& buffer = all.buffers[index];
  if (!buffer.used || buffer.generation != generationOf(id)) return;
  for (CompletionQueue& queue : all.queues) {
    if (queue.used.load(std::memory_order_relaxed)) setFixedBuffer(queue.ring, index, nullptr, 0);
  }
  buffer.used = false;
  buffer.data = nullptr;
  buffer.length = 0;
}

RioCq rioCreateCompletionQueue(const RioTable& table, uint32_t size, KernelHandle event) noexcept {
  if (injected(Call::RIOCreateCompletionQueue) || !tableLoaded(table)) return kRioInvalidCq;
  if (size == 0) return kRioInvalidCq;
  Engine& all = engine();
  std::lock_guard<std::mutex> hold(all.lock);
  for (uint32_t index = 0; index < kMaxQueues; ++index) {
    CompletionQueue& queue = all.queues[index];
    if (queue.used.load(std::memory_order_relaxed)) continue;
    // Every posted request holds one submission entry only until it is
    // submitted, which is at once; the kernel keeps completions beyond the
    // ring's size rather than drop them.
    if (io_uring_queue_init(size < 4 ? 4 : size, &queue.ring, 0) != 0) return kRioInvalidCq;
    bool ready = io_uring_register_buffers_sparse(&queue.ring, kMaxBuffers) == 0;
    for (uint32_t buffer = 0; ready && buffer < kMaxBuffers; ++buffer) {
      const Registration& registration = all.buffers[buffer];
      if (registration.used) {
        ready = setFixedBuffer(queue.ring, buffer, registration.data, registration.length) >= 0;
      }
    }
    queue.eventFd = event != nullptr ? eventFdOf(event) : -1;
    if (ready && queue.eventFd >= 0) {
      // Disarmed until the first RIONotify.
      ready = io_uring_register_eventfd(&queue.ring, queue.eventFd) == 0 &&
              io_uring_cq_eventfd_toggle(&queue.ring, false) == 0;
    }
    if (!ready) {
      io_uring_queue_exit(&queue.ring);
      return kRioInvalidCq;
    }
    const uint32_t generation = queue.generation.load(std::memory_order_relaxed) + 1;
    queue.generation.store(generation, std::memory_order_relaxed);
    queue.used.store(true, std::memory_order_release);
    return handleOf(index, generation);
  }
  return kRioInvalidCq;
}

RioRq rioCreateRequestQueue(const RioTable& table, Socket socket, uint32_t maxReceives,
                            uint32_t maxSends, RioCq receiveQueue, RioCq sendQueue,
                            void* socketContext) noexcept {
  if (injected(Call::RIOCreateRequestQueue) || !tableLoaded(table)) return kRioInvalidRq;
  Engine& all = engine();
  std::lock_guard<std::mutex> hold(all.lock);
  if (queueOf(receiveQueue) == nullptr || queueOf(sendQueue) == nullptr || maxSends == 0 ||
      maxReceives == 0 || ::fcntl(static_cast<int>(socket), F_GETFD) < 0) {
    return kRioInvalidRq;
  }
  for (uint32_t index = 0; index < kMaxRequestQueues; ++index) {
    RequestQueue& queue = all.requestQueues[index];
    if (queue.used.load(std::memory_order_relaxed)) continue;
    if (!queue.sends.make(maxSends, &queue, true) ||
        !queue.receives.make(maxReceives, &queue, false)) {
      queue.sends.requests.reset();
      queue.receives.requests.reset();
      return kRioInvalidRq;
    }
    queue.fd = static_cast<int>(socket);
    queue.socketContext = reinterpret_cast<uintptr_t>(socketContext);
    queue.sendQueue = indexOf(sendQueue);
    queue.receiveQueue = indexOf(receiveQueue);
    queue.sendQueueOpen = true;
    queue.receiveQueueOpen = true;
    const uint32_t generation = queue.generation.load(std::memory_order_relaxed) + 1;
    queue.generation.store(generation, std::memory_order_relaxed);
    queue.used.store(true, std::memory_order_release);
    return handleOf(index, generation);
  }
  return kRioInvalidRq;
}

bool rioSend(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t /*flags*/,
             void* requestContext) noexcept {
  if (injected(Call::RIOSend) || !tableLoaded(table)) return false;
  return post(queue, slice, requestContext, true);
}

bool rioReceive(const RioTable& table, RioRq queue, const RioBuf* slice, uint32_t /*flags*/,
                void* requestContext) noexcept {
  if (injected(Call::RIOReceive) || !tableLoaded(table)) return false;
  return post(queue, slice, requestContext, false);
}

uint32_t rioDequeue(const RioTable& table, RioCq handle, RioResult* results,
                    uint32_t count) noexcept {
  int64_t value = 0;
  if (injected(Call::RIODequeueCompletion, &value)) return value == 1 ? 0 : kRioCorruptCq;
  CompletionQueue* queue = queueOf(handle);
  if (!tableLoaded(table) || queue == nullptr || results == nullptr) return kRioCorruptCq;
  // A notification fires once per RIONotify: whoever dequeues has been told.
  if (queue->eventFd >= 0) io_uring_cq_eventfd_toggle(&queue->ring, false);
  uint32_t taken = 0;
  io_uring_cqe* completion = nullptr;
  while (taken < count && io_uring_peek_cqe(&queue->ring, &completion) == 0) {
    auto* request = static_cast<Request*>(io_uring_cqe_get_data(completion));
    const int32_t result = completion->res;
    io_uring_cqe_seen(&queue->ring, completion);
    if (request == nullptr) continue;
    RequestQueue& owner = *request->owner;
    results[taken] = {result < 0 ? -result : 0, result < 0 ? 0u : static_cast<uint32_t>(result),
                      owner.socketContext, request->context};
    (request->send ? owner.sends : owner.receives).give(request);
    ++taken;
  }
  return taken;
}

int32_t rioNotify(const RioTable& table, RioCq handle) noexcept {
  if (injected(Call::RIONotify)) return kWsaEinval;
  CompletionQueue* queue = queueOf(handle);
  if (!tableLoaded(table) || queue == nullptr || queue->eventFd < 0) return kWsaEinval;
  // NotifyReset: a signal left over from before is dropped.
  uint64_t stale = 0;
  while (::read(queue->eventFd, &stale, sizeof stale) == sizeof stale) {
  }
  if (io_uring_cq_eventfd_toggle(&queue->ring, true) != 0) return kWsaEalready;
  // Completions already waiting are announced at once, as the kernel would
  // not announce them again.
  if (io_uring_cq_ready(&queue->ring) > 0) {
    io_uring_cq_eventfd_toggle(&queue->ring, false);
    const uint64_t one = 1;
    if (::write(queue->eventFd, &one, sizeof one) != sizeof one) return kWsaEinval;
  }
  return 0;
}

void rioCloseCompletionQueue(const RioTable& table, RioCq handle) noexcept {
  if (injected(Call::RIOCloseCompletionQueue) || !tableLoaded(table)) return;
  Engine& all = engine();
  std::lock_guard<std::mutex> hold(all.lock);
  CompletionQueue* queue = queueOf(handle);
  if (queue == nullptr) return;
  const uint32_t index = indexOf(handle);
  // Requests still posted are cancelled with the ring.
  io_uring_queue_exit(&queue->ring);
  queue->eventFd = -1;
  queue->generation.fetch_add(1, std::memory_order_relaxed);
  queue->used.store(false, std::memory_order_release);
  for (RequestQueue& requests : all.requestQueues) {
    if (!requests.used.load(std::memory_order_relaxed)) continue;
    if (requests.sendQueueOpen && requests.sendQueue == index) requests.sendQueueOpen = false;
    if (requests.receiveQueueOpen && requests.receiveQueue == index) {
      requests.receiveQueueOpen = false;
    }
    if (!requests.sendQueueOpen && !requests.receiveQueueOpen) releaseRequestQueue(requests);
  }
}

}  // namespace tavro::platform

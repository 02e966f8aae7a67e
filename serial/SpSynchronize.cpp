#include "serial/SpSynchronize.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// One queued call. It lives on the waiting caller's stack, so queueing allocates nothing.
struct TSyncRequest {
  const std::function<void()>* Routine = nullptr;
  std::exception_ptr Error;
  bool Done = false;
  std::condition_variable Finished;
  TSyncRequest* Next = nullptr;
};

struct TSyncQueue {
  std::mutex Lock;
  TSyncRequest* Head = nullptr;
  TSyncRequest* Tail = nullptr;
  std::atomic<bool> HasWork{false};
  std::mutex WakeUpLock;
  std::shared_ptr<const std::function<void()>> WakeUp;
  std::atomic<std::thread::id> MainThread{std::this_thread::get_id()};
};

// Never destroyed: detached threads may still queue calls while exit runs static destructors.
TSyncQueue& Queue() {
  static TSyncQueue& queue = *new TSyncQueue;
  return queue;
}

// Makes sure the queue exists before main() so that the loading thread is the default main thread.
const bool kQueueCreated = (Queue(), true);

void WakeMainThread(TSyncQueue& queue) {
  std::shared_ptr<const std::function<void()>> wakeUp;
  {
    std::lock_guard<std::mutex> guard(queue.WakeUpLock);
    wakeUp = queue.WakeUp;
  }
  if (wakeUp && *wakeUp) {
    (*wakeUp)();
  }
}

TSyncRequest* TakeFirst(TSyncQueue& queue) {
  std::lock_guard<std::mutex> guard(queue.Lock);
  TSyncRequest* request = queue.Head;
  if (request != nullptr) {
    queue.Head = request->Next;
    if (queue.Head == nullptr) {
      queue.Tail = nullptr;
      queue.HasWork.store(false, std::memory_order_release);
    }
  }
  return request;
}

// Takes a request out of the queue (the lock held); false when it is no longer queued.
bool Unlink(TSyncQueue& queue, TSyncRequest* request) {
  TSyncRequest* previous = nullptr;
  for (TSyncRequest* at = queue.Head; at != nullptr; previous = at, at = at->Next) {
    if (at != request) {
      continue;
    }
    (previous != nullptr ? previous->Next : queue.Head) = at->Next;
    if (queue.Tail == at) {
      queue.Tail = previous;
    }
    queue.HasWork.store(queue.Head != nullptr, std::memory_order_release);
    return true;
  }
  return false;
}

}  // namespace

void SpSetMainThread() {
  static_cast<void>(kQueueCreated);
  Queue().MainThread.store(std::this_thread::get_id());
}

bool SpIsMainThread() {
  return Queue().MainThread.load() == std::this_thread::get_id();
}

void SpSynchronize(const std::function<void()>& routine) {
  if (SpIsMainThread()) {
    routine();
    return;
  }
  TSyncQueue& queue = Queue();
  TSyncRequest request;
  request.Routine = &routine;
  {
    std::lock_guard<std::mutex> guard(queue.Lock);
    if (queue.Tail != nullptr) {
      queue.Tail->Next = &request;
    } else {
      queue.Head = &request;
    }
    queue.Tail = &request;
    queue.HasWork.store(true, std::memory_order_release);
  }
  try {
    WakeMainThread(queue);
  } catch (...) {
    // The request lives in this frame and must not stay linked once the frame is gone. One that
    // the main thread has taken already is served: wait for it as usual.
    std::lock_guard<std::mutex> guard(queue.Lock);
    if (Unlink(queue, &request)) {
      throw;
    }
  }
  {
    std::unique_lock<std::mutex> guard(queue.Lock);
    request.Finished.wait(guard, [&request] { return request.Done; });
  }
  if (request.Error) {
    std::rethrow_exception(request.Error);
  }
}

void SpSetWakeUp(std::function<void()> wakeUp) {
  auto shared = std::make_shared<const std::function<void()>>(std::move(wakeUp));
  TSyncQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.WakeUpLock);
  queue.WakeUp = std::move(shared);
}

bool SpDrainMainThreadCalls() {
  if (!SpIsMainThread()) {
    return false;
  }
  TSyncQueue& queue = Queue();
  bool ran = false;
  // One at a time, so that a routine that pumps (a modal loop) keeps the order of the rest.
  while (TSyncRequest* request = TakeFirst(queue)) {
    ran = true;
    try {
      (*request->Routine)();
    } catch (...) {
      request->Error = std::current_exception();
    }
    // Notify under the lock: the request may vanish as soon as its owner sees Done.
    std::lock_guard<std::mutex> guard(queue.Lock);
    request->Done = true;
    request->Finished.notify_one();
  }
  return ran;
}

bool SpHasQueuedCalls() {
  return Queue().HasWork.load(std::memory_order_acquire);
}

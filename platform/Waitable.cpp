#include "platform/Waitable.h"

#include <algorithm>
#include <chrono>

namespace win::detail {

std::mutex& WaitMutex() {
  // The process-wide state of this layer is never destroyed: detached threads that end while
  // the process exits still signal, close handles and run their exit hooks.
  static std::mutex& mutex = *new std::mutex;
  return mutex;
}

void Waitable::Signal() {
  std::lock_guard lock(WaitMutex());
  signalled_ = true;
  // Waiters stay registered until they hold the mutex again, so notifying under it is safe.
  for (Waiter* waiter : waiters_) {
    waiter->wake.notify_one();
  }
}

void Waitable::Reset() {
  std::lock_guard lock(WaitMutex());
  signalled_ = false;
}

bool Waitable::TryAcquireLocked() {
  if (!signalled_) {
    return false;
  }
  if (!manualReset_) {
    signalled_ = false;
  }
  return true;
}

void Waitable::RemoveWaiterLocked(Waiter* waiter) {
  waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

DWORD WaitForAny(std::span<const std::shared_ptr<Waitable>> objects, DWORD milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(WaitMutex());
  Waiter waiter;
  bool registered = false;
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    auto signalled = std::find_if(objects.begin(), objects.end(),
                                  [](const auto& object) { return object->TryAcquireLocked(); });
    if (signalled != objects.end()) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(signalled - objects.begin());
      break;
    }
    if (milliseconds == 0 || (milliseconds != INFINITE && Clock::now() >= deadline)) {
      break;
    }
    if (!registered) {
      for (const auto& object : objects) {
        object->AddWaiterLocked(&waiter);
      }
      registered = true;
    }
    if (milliseconds == INFINITE) {
      waiter.wake.wait(lock);
    } else {
      waiter.wake.wait_until(lock, deadline);
    }
  }
  if (registered) {
    for (const auto& object : objects) {
      object->RemoveWaiterLocked(&waiter);
    }
  }
  return result;
}

}  // namespace win::detail

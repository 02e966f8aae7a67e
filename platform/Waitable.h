#pragma once
// Waitable kernel objects (events, threads) and the wait that blocks on one or several of them.
// One process-wide mutex guards every signal state; each blocked waiter registers its own
// condition variable on the objects it waits for, so a signal wakes exactly those waiters.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/KernelObject.h"

namespace win::detail {

struct Waiter {
  std::condition_variable wake;
};

class Waitable : public KernelObject {
 public:
  Waitable(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  void Signal();
  void Reset();

  // The rest is called with WaitMutex() held.
  // True when signalled; an auto-reset object is consumed by the caller.
  bool TryAcquireLocked();
  void AddWaiterLocked(Waiter* waiter) { waiters_.push_back(waiter); }
  void RemoveWaiterLocked(Waiter* waiter);

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<Waiter*> waiters_;
};

std::mutex& WaitMutex();

// Waits until one of the objects is signalled (the lowest index wins) or the time is up.
// Returns WAIT_OBJECT_0 + index or WAIT_TIMEOUT.
DWORD WaitForAny(std::span<const std::shared_ptr<Waitable>> objects, DWORD milliseconds);

}  // namespace win::detail

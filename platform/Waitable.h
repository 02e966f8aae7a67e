#pragma once
// Waitable kernel objects (events, threads) and the wait that blocks on one or several of them.
// One process-wide mutex guards every signal state; each blocked waiter registers its own
// condition variable on the objects it waits for, so a signal wakes exactly those waiters.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/KernelObject.h"

namespace win::detail {

struct Waiter {
  std::condition_variable wake;
  std::atomic<int> pins{0};  // signals that will notify after the wait lock is released
  std::thread::id thread = std::this_thread::get_id();
  WaitDriver* driving = nullptr;  // set while the waiter drives instead of sleeping
};

class Waitable : public KernelObject {
 public:
  Waitable(bool manualReset, bool initialState)
      : manualReset_(manualReset), signalled_(initialState) {}

  void Signal();
  void Reset();
  void AttachDriver(std::weak_ptr<WaitDriver> driver);

  // The rest is called with WaitMutex() held.
  // True when signalled; an auto-reset object is consumed by the caller.
  bool TryAcquireLocked();
  bool SignalledLocked() const { return signalled_; }
  void AddWaiterLocked(Waiter* waiter) { waiters_.push_back(waiter); }
  void RemoveWaiterLocked(Waiter* waiter);
  std::shared_ptr<WaitDriver> DriverLocked() const { return driver_.lock(); }

 private:
  const bool manualReset_;
  bool signalled_;
  std::weak_ptr<WaitDriver> driver_;
  std::vector<Waiter*> waiters_;
};

std::mutex& WaitMutex();

// Waits until one of the objects is signalled (the lowest index wins), or with waitAll until all
// of them are, or the time is up, driving the pending operation of an object that has a driver
// instead of sleeping. Returns WAIT_OBJECT_0 + index (WAIT_OBJECT_0 for all) or WAIT_TIMEOUT.
DWORD WaitFor(std::span<const std::shared_ptr<Waitable>> objects, bool waitAll, DWORD milliseconds);

// The current process, as INVALID_HANDLE_VALUE names it in waits: it never ends while anyone
// waits for it.
std::shared_ptr<Waitable> CurrentProcess();

}  // namespace win::detail

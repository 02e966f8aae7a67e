#include "platform/Waitable.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace win::detail {

std::mutex& WaitMutex() {
  // The process-wide state of this layer is never destroyed: detached threads that end while
  // the process exits still signal, close handles and run their exit hooks.
  static std::mutex& mutex = *new std::mutex;
  return mutex;
}

void Waitable::Signal() {
  // The waiters are notified after the lock is released, so that a woken waiter does not at once
  // block on the lock that the signalling thread still holds. A pin keeps each waiter in being
  // until its notification is done; beyond a few waiters they are notified under the lock.
  std::array<Waiter*, 4> pinned{};
  std::size_t count = 0;
  {
    std::lock_guard lock(WaitMutex());
    signalled_ = true;
    driver_.reset();
    for (Waiter* waiter : waiters_) {
      if (waiter->driving != nullptr && waiter->thread != std::this_thread::get_id()) {
        waiter->driving->Interrupt();
      }
      if (count < pinned.size()) {
        waiter->pins.fetch_add(1, std::memory_order_relaxed);
        pinned[count++] = waiter;
      } else {
        waiter->wake.notify_one();
      }
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    pinned[i]->wake.notify_one();
    pinned[i]->pins.fetch_sub(1, std::memory_order_release);
  }
}

void Waitable::Reset() {
  std::lock_guard lock(WaitMutex());
  signalled_ = false;
  driver_.reset();
}

void Waitable::AttachDriver(std::weak_ptr<WaitDriver> driver) {
  std::lock_guard lock(WaitMutex());
  if (!signalled_) {
    driver_ = std::move(driver);
  }
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

std::shared_ptr<Waitable> CurrentProcess() {
  static auto& process = *new std::shared_ptr<Waitable>(std::make_shared<Waitable>(true, false));
  return process;
}

namespace {

// With the mutex held: the index of the object taken, or -1.
std::ptrdiff_t AcquireLocked(std::span<const std::shared_ptr<Waitable>> objects, bool waitAll) {
  if (!waitAll) {
    auto signalled = std::find_if(objects.begin(), objects.end(),
                                  [](const auto& object) { return object->TryAcquireLocked(); });
    return signalled == objects.end() ? -1 : signalled - objects.begin();
  }
  if (!std::all_of(objects.begin(), objects.end(),
                   [](const auto& object) { return object->SignalledLocked(); })) {
    return -1;
  }
  for (const auto& object : objects) {
    object->TryAcquireLocked();
  }
  return 0;
}

}  // namespace

DWORD WaitFor(std::span<const std::shared_ptr<Waitable>> objects, bool waitAll,
              DWORD milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(WaitMutex());
  Waiter waiter;
  bool registered = false;
  bool driveRefused = false;  // another thread drives: sleep until a signal instead
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    const auto taken = AcquireLocked(objects, waitAll);
    if (taken >= 0) {
      result = WAIT_OBJECT_0 + static_cast<DWORD>(taken);
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
    if (!driveRefused) {
      std::shared_ptr<WaitDriver> driver;
      for (const auto& object : objects) {
        if ((driver = object->DriverLocked())) {
          break;
        }
      }
      if (driver) {
        // Registered and marked as driving before the lock goes, so a signal meanwhile
        // interrupts the drive.
        waiter.driving = driver.get();
        lock.unlock();
        DWORD left = INFINITE;
        if (milliseconds != INFINITE) {
          const auto rest =
              std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
          left = static_cast<DWORD>(std::max<long long>(rest, 0));
        }
        driveRefused = !driver->Drive(left);
        lock.lock();
        waiter.driving = nullptr;
        lock.unlock();
        driver.reset();  // the last owner of a closed file lets it go outside the wait lock
        lock.lock();
        continue;
      }
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
  lock.unlock();
  while (waiter.pins.load(std::memory_order_acquire) != 0) {
    std::this_thread::yield();  // a signal is still notifying this waiter
  }
  return result;
}

}  // namespace win::detail

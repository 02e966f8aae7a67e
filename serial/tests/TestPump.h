#pragma once
// SetUpMainThread and WaitForWakeUp: serial tests have no event loop: the test's own thread is the
// main thread and drains the main-thread calls while it waits for something to happen.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "serial/SpSynchronize.h"

namespace testpump {

struct WakeUp {
  std::mutex Lock;
  std::condition_variable Signal;
  bool Woken = false;
};

inline WakeUp& TheWakeUp() {
  static WakeUp wakeUp;
  return wakeUp;
}

// Makes the calling thread the main thread and installs a wake-up that ends the pump's sleep.
inline void SetUpMainThread() {
  SpSetMainThread();
  SpSetWakeUp([] {
    WakeUp& wakeUp = TheWakeUp();
    std::lock_guard<std::mutex> guard(wakeUp.Lock);
    wakeUp.Woken = true;
    wakeUp.Signal.notify_all();
  });
}

// Waits at most `milliseconds` for a wake-up.
inline void WaitForWakeUp(std::chrono::milliseconds milliseconds) {
  WakeUp& wakeUp = TheWakeUp();
  std::unique_lock<std::mutex> guard(wakeUp.Lock);
  wakeUp.Signal.wait_for(guard, milliseconds, [&wakeUp] { return wakeUp.Woken; });
  wakeUp.Woken = false;
}

}  // namespace testpump

// Drains main-thread calls until pred() holds or timeoutMs have passed; returns pred().
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    SpDrainMainThreadCalls();
    if (pred()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    testpump::WaitForWakeUp(std::chrono::milliseconds(1));
  }
}

// Drains main-thread calls for the whole of `milliseconds`.
inline void PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

#pragma once
// TSpThread and TThreadPriority: a small thread base: created suspended, with a priority, a stop
// flag and the main-thread call.
//
// The thread object frees itself: the running body holds one reference and the creator another;
// whoever lets go last destroys it. If the creator stops it before its body ever ran, the body
// is skipped.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Win32.h"

enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// The system's priority value for a thread priority (-15, -2, -1, 0, 1, 2, 15).
int SpSystemPriority(TThreadPriority priority);

class TSpThread {
 public:
  TSpThread(const TSpThread&) = delete;
  TSpThread& operator=(const TSpThread&) = delete;
  virtual ~TSpThread();

  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority priority);
  // Lets a suspended thread run. Once only; later calls do nothing.
  void Resume();
  bool Terminated() const { return FTerminated.load(); }
  win::HANDLE ThreadHandle() const { return FThreadHandle; }

  // Thread objects that exist now, of every kind (for leak checks).
  static int LiveCount();

 protected:
  TSpThread();

  // Creates the suspended system thread; the body keeps `self` until it returns. Raises
  // std::runtime_error("Thread creation error: <system text>") on failure.
  static void Start(const std::shared_ptr<TSpThread>& self);

  virtual void Execute() = 0;
  void Terminate() { FTerminated.store(true); }
  // Marks the object as stopped by its creator (main thread) and makes sure a thread that never
  // ran gets to run, skip its body and free itself.
  void MarkStopped();
  bool Stopped() const { return FStopped.load(); }
  static void Synchronize(const std::function<void()>& routine);

 private:
  static win::DWORD ThreadProc(win::LPVOID parameter);

  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStopped{false};
  std::atomic<bool> FResumed{false};
  TThreadPriority FPriority = tpNormal;
  win::HANDLE FThreadHandle = nullptr;
  std::shared_ptr<TSpThread> FBodyReference;
};

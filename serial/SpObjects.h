#pragma once
// TSpEvent, TSpWaitEvent and TSpCriticalSection: thin owners of system synchronisation objects:
// events and critical sections.

#include <atomic>
#include <cstdint>

#include "platform/Win32.h"

enum TSpWaitResult : std::uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Owns one system handle and closes it when destroyed.
class TSpHandleObject {
 public:
  TSpHandleObject() = default;
  TSpHandleObject(const TSpHandleObject&) = delete;
  TSpHandleObject& operator=(const TSpHandleObject&) = delete;
  virtual ~TSpHandleObject();

  win::HANDLE Handle() const { return FHandle; }
  // The system error of the last wait that failed (WAIT_FAILED); 0 until then.
  win::DWORD LastError() const { return FLastError.load(std::memory_order_relaxed); }

 protected:
  win::HANDLE FHandle = nullptr;
  std::atomic<win::DWORD> FLastError{0};
};

class TSpEvent : public TSpHandleObject {
 public:
  bool SetEvent();
  bool ResetEvent();
  TSpWaitResult WaitFor(win::DWORD timeout);
};

// A manual-reset event, created not signalled.
class TSpWaitEvent : public TSpEvent {
 public:
  TSpWaitEvent();
};

// A recursive critical section.
class TSpCriticalSection {
 public:
  TSpCriticalSection();
  TSpCriticalSection(const TSpCriticalSection&) = delete;
  TSpCriticalSection& operator=(const TSpCriticalSection&) = delete;
  virtual ~TSpCriticalSection();

  void Enter();
  void Leave();

 private:
  win::CRITICAL_SECTION FSection;
};

// Holds a critical section for the lifetime of the guard.
class TSpLockGuard {
 public:
  explicit TSpLockGuard(TSpCriticalSection& section) : FSection(section) { FSection.Enter(); }
  TSpLockGuard(const TSpLockGuard&) = delete;
  TSpLockGuard& operator=(const TSpLockGuard&) = delete;
  ~TSpLockGuard() { FSection.Leave(); }

 private:
  TSpCriticalSection& FSection;
};

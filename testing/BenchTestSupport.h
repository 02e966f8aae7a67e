#pragma once
// bench_test::Io, Port, Eventually and BroadcastRecorder: helpers for the bench tests: opened
// ports, overlapped records with their own event, and a recorder of device-change broadcasts.

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/UseBench.h"

namespace bench_test {

using namespace win;
using Clock = std::chrono::steady_clock;

// An OVERLAPPED with a manual-reset event. Declare it before the port it is used on, so that
// the port is closed (ending what is pending) before the record goes.
struct Io {
  OVERLAPPED ov{};
  Io() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Io() { win::CloseHandle(ov.hEvent); }
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;
  bool Signalled(DWORD ms = 0) const { return WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0; }
};

class Port {
 public:
  explicit Port(const std::string& name, bool overlapped = true)
      : handle_(win::CreateFileA(
            ("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            overlapped ? FILE_FLAG_OVERLAPPED : FILE_ATTRIBUTE_NORMAL, nullptr)),
        error_(GetLastError()) {}
  ~Port() { Close(); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }
  bool Close() {
    return valid() && win::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != FALSE;
  }

  // 8N1 at `baud`, read interval `interval` ms and no other time limit.
  void Configure(DWORD baud, DWORD interval = 5) {
    DCB dcb{};
    ASSERT_TRUE(win::GetCommState(handle_, &dcb));
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(win::SetCommState(handle_, &dcb));
    COMMTIMEOUTS timeouts{interval, 0, 0, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(handle_, &timeouts));
  }

  DWORD InQueue() const {
    COMSTAT status{};
    DWORD errors = 0;
    return win::ClearCommError(handle_, &errors, &status) ? status.cbInQue : 0;
  }

  DWORD ModemStatus() const {
    DWORD status = 0;
    EXPECT_TRUE(win::GetCommModemStatus(handle_, &status));
    return status;
  }

 private:
  HANDLE handle_;
  DWORD error_;
};

// Polls until `done` holds or `limit` passes (for state that has no event of its own).
template <class Predicate>
bool Eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline double MillisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Records WM_DEVICECHANGE broadcasts as (event, device type).
class BroadcastRecorder final : public MessageTarget {
 public:
  BroadcastRecorder() : window_(RegisterMessageTarget(this, true)) {}
  ~BroadcastRecorder() override { UnregisterMessageTarget(window_); }
  BroadcastRecorder(const BroadcastRecorder&) = delete;
  BroadcastRecorder& operator=(const BroadcastRecorder&) = delete;

  LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
  void PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_DEVICECHANGE) {
      return;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    std::lock_guard lock(mutex_);
    seen_.emplace_back(wParam, header != nullptr ? header->dbch_devicetype : 0xFFFFFFFFu);
  }
  std::vector<std::pair<WPARAM, DWORD>> Seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  HWND window_;
  mutable std::mutex mutex_;
  std::vector<std::pair<WPARAM, DWORD>> seen_;
};

}  // namespace bench_test

// The overlapped protocol as callers see it through GetOverlappedResult, and the dispatch of the
// comm functions: paths, handles that are no open files, and missing arguments.

#include <gtest/gtest.h>

#include <thread>

#include "testing/UseBench.h"

using namespace win;

namespace {

class BasicsOverlapped : public ::testing::Test {
 protected:
  void SetUp() override { event_ = CreateEvent(nullptr, TRUE, TRUE, nullptr); }
  void TearDown() override { win::CloseHandle(event_); }

  // A record under way, completed by another thread after `delayMs`.
  std::thread CompleteLater(OVERLAPPED& overlapped, DWORD error, DWORD count, DWORD delayMs) {
    return std::thread([&overlapped, error, count, delayMs] {
      Sleep(delayMs);
      CompleteOverlapped(&overlapped, error, count);
    });
  }

  HANDLE event_ = nullptr;
};

TEST_F(BasicsOverlapped, PendingRecordReportsIncompleteThenItsCount) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  StartOverlapped(&overlapped);
  EXPECT_TRUE(OverlappedPending(&overlapped));
  EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);  // the start resets the event
  DWORD count = 99;
  SetLastError(0);
  EXPECT_FALSE(win::GetOverlappedResult(nullptr, &overlapped, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  auto completer = CompleteLater(overlapped, ERROR_SUCCESS, 7, 30);
  EXPECT_TRUE(win::GetOverlappedResult(nullptr, &overlapped, &count, TRUE));
  EXPECT_EQ(count, 7u);
  EXPECT_FALSE(OverlappedPending(&overlapped));
  EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
  completer.join();
}

TEST_F(BasicsOverlapped, FailedRecordGivesItsError) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  StartOverlapped(&overlapped);
  auto completer = CompleteLater(overlapped, ERROR_OPERATION_ABORTED, 2, 10);
  DWORD count = 99;
  SetLastError(0);
  EXPECT_FALSE(win::GetOverlappedResult(nullptr, &overlapped, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(count, 2u);
  completer.join();
}

TEST_F(BasicsOverlapped, WaitOutlivesTheClosedFileAndAResetSharedEvent) {
  // The file handle is already gone: with an event the wait needs only the event.
  HANDLE file = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  win::CloseHandle(file);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  StartOverlapped(&overlapped);
  CompleteOverlapped(&overlapped, ERROR_SUCCESS, 3);
  ResetEvent(event_);  // someone sharing the event reset it after the completion
  DWORD count = 0;
  EXPECT_TRUE(win::GetOverlappedResult(file, &overlapped, &count, TRUE));
  EXPECT_EQ(count, 3u);

  StartOverlapped(&overlapped);
  auto completer = CompleteLater(overlapped, ERROR_SUCCESS, 4, 20);
  EXPECT_TRUE(win::GetOverlappedResult(file, &overlapped, &count, TRUE));
  EXPECT_EQ(count, 4u);
  completer.join();
}

TEST_F(BasicsOverlapped, WithoutAnEventTheFileMustExist) {
  OVERLAPPED overlapped{};
  StartOverlapped(&overlapped);
  SetLastError(0);
  EXPECT_FALSE(win::GetOverlappedResult(nullptr, &overlapped, nullptr, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  auto completer = CompleteLater(overlapped, ERROR_SUCCESS, 5, 20);
  DWORD count = 0;
  HANDLE file = AllocateHandle(std::make_shared<KernelObject>());  // any handle of this layer
  EXPECT_TRUE(win::GetOverlappedResult(file, &overlapped, &count, TRUE));
  EXPECT_EQ(count, 5u);
  completer.join();
  win::CloseHandle(file);
  SetLastError(0);
  EXPECT_FALSE(win::GetOverlappedResult(event_, nullptr, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

class BasicsCommDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    bench_ = &bench::UseBench();
    bench_->AddDevice(bench::MakePort("COM3", "Communications Port", "ACPI"));
  }

  bench::BenchWorld* bench_ = nullptr;
};

TEST_F(BasicsCommDispatch, OnlyDevicePathsOpen) {
  for (const char* path : {"\\\\.\\COM3", "\\\\?\\COM3"}) {
    HANDLE file = win::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(bench_->State("COM3").open);
    EXPECT_TRUE(win::CloseHandle(file));
    EXPECT_FALSE(bench_->State("COM3").open);
  }
  for (const char* path : {"COM3", "\\\\.\\", "\\\\.\\COM9", "\\\\X\\COM3", "C:\\COM3"}) {
    SetLastError(0);
    EXPECT_EQ(
        win::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE)
        << path;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << path;
  }
  EXPECT_EQ(bench_->State("COM3").opens, 2);
}

TEST_F(BasicsCommDispatch, CallsOnHandlesThatAreNoOpenFilesFail) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE closed = win::CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  win::CloseHandle(closed);
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  COMSTAT status{};
  DWORD value = 0;
  char buffer[4] = {};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  for (HANDLE bad : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, event, closed}) {
    const BOOL results[] = {
        win::GetCommState(bad, &dcb),
        win::SetCommState(bad, &dcb),
        win::SetupComm(bad, 1024, 1024),
        win::GetCommTimeouts(bad, &timeouts),
        win::SetCommTimeouts(bad, &timeouts),
        win::GetCommMask(bad, &value),
        win::SetCommMask(bad, EV_RXCHAR),
        win::WaitCommEvent(bad, &value, &overlapped),
        win::ReadFile(bad, buffer, 1, &value, &overlapped),
        win::WriteFile(bad, buffer, 1, &value, &overlapped),
        win::CancelIo(bad),
        win::CancelIoEx(bad, nullptr),
        win::ClearCommError(bad, &value, &status),
        win::PurgeComm(bad, PURGE_RXCLEAR),
        win::EscapeCommFunction(bad, SETDTR),
        win::GetCommModemStatus(bad, &value),
    };
    for (BOOL result : results) {
      EXPECT_FALSE(result);
    }
    SetLastError(0);
    EXPECT_FALSE(win::GetCommModemStatus(bad, &value));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(win::WriteFile(bad, buffer, 1, &value, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  // Nothing reached the port after its close.
  const auto calls = bench_->State("COM3").calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "WriteFile"), 0);
  win::CloseHandle(event);
}

TEST_F(BasicsCommDispatch, MissingArgumentsAreInvalidParameters) {
  HANDLE file = win::CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD value = 0;
  auto expectInvalid = [](BOOL result) {
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  };
  expectInvalid(win::GetCommState(file, nullptr));
  expectInvalid(win::SetCommState(file, nullptr));
  expectInvalid(win::GetCommTimeouts(file, nullptr));
  expectInvalid(win::SetCommTimeouts(file, nullptr));
  expectInvalid(win::GetCommMask(file, nullptr));
  expectInvalid(win::GetCommModemStatus(file, nullptr));
  expectInvalid(win::WaitCommEvent(file, nullptr, nullptr));
  expectInvalid(win::ReadFile(file, nullptr, 4, &value, nullptr));
  expectInvalid(win::WriteFile(file, nullptr, 4, &value, nullptr));
  char byte = 'U';
  expectInvalid(win::WriteFile(file, &byte, 1, nullptr, nullptr));
  EXPECT_TRUE(win::CloseHandle(file));
}

TEST_F(BasicsCommDispatch, WaitPendingAtTheCloseStaysReadableAfterIt) {
  HANDLE file = win::CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(win::SetCommMask(file, EV_RXCHAR));
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD mask = 0xFF;
  ASSERT_FALSE(win::WaitCommEvent(file, &mask, &overlapped));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(win::CloseHandle(file));
  // What a thread does before its OVERLAPPED goes away, after its owner closed the port.
  SetLastError(0);
  EXPECT_FALSE(win::CancelIoEx(file, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  DWORD count = 99;
  EXPECT_TRUE(win::GetOverlappedResult(file, &overlapped, &count, TRUE));
  EXPECT_FALSE(OverlappedPending(&overlapped));
  EXPECT_EQ(mask, 0u);
  win::CloseHandle(event);
}

}  // namespace

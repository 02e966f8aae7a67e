#include "serial/SpObjects.h"

using namespace win;

TSpHandleObject::~TSpHandleObject() {
  win::CloseHandle(FHandle);
}

bool TSpEvent::SetEvent() {
  return win::SetEvent(FHandle) != FALSE;
}

bool TSpEvent::ResetEvent() {
  return win::ResetEvent(FHandle) != FALSE;
}

TSpWaitResult TSpEvent::WaitFor(DWORD timeout) {
  switch (WaitForSingleObject(FHandle, timeout)) {
    case WAIT_OBJECT_0:
      return wrSignaled;
    case WAIT_TIMEOUT:
      return wrTimeout;
    case WAIT_ABANDONED:
      return wrAbandoned;
    case WAIT_FAILED:
      FLastError.store(GetLastError(), std::memory_order_relaxed);
      return wrError;
    default:
      return wrError;
  }
}

TSpWaitEvent::TSpWaitEvent() {
  FHandle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TSpCriticalSection::TSpCriticalSection() {
  InitializeCriticalSection(&FSection);
}

TSpCriticalSection::~TSpCriticalSection() {
  DeleteCriticalSection(&FSection);
}

void TSpCriticalSection::Enter() {
  EnterCriticalSection(&FSection);
}

void TSpCriticalSection::Leave() {
  LeaveCriticalSection(&FSection);
}

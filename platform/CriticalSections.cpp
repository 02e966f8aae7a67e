// The section owns a recursive mutex through its `impl` pointer, from Initialize to Delete.

#include <memory>
#include <mutex>

#include "platform/Win32.h"

namespace win {

namespace {
std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
  return *static_cast<std::recursive_mutex*>(section->impl);
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  section->impl = std::make_unique<std::recursive_mutex>().release();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  std::unique_ptr<std::recursive_mutex>(static_cast<std::recursive_mutex*>(section->impl)).reset();
  section->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).unlock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return MutexOf(section).try_lock() ? TRUE : FALSE;
}

}  // namespace win

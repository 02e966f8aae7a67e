// The process-wide handle table. Handle values come from a counter that only grows, so a closed
// handle is never handed out again while the process runs. They start far above the values that
// Windows gives its own handles (multiples of 4 below 2^26), so that where the system's handles
// live beside these, a value names either one of the table's objects or one of the system's.

#include <mutex>
#include <unordered_map>

#include "platform/CallTrace.h"
#include "platform/DeviceWorld.h"
#include "platform/SystemHandles.h"

namespace win {

namespace {

class HandleTable {
 public:
  HANDLE Allocate(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(mutex_);
    next_ += 4;
    objects_.emplace(next_, std::move(object));
    return reinterpret_cast<HANDLE>(next_);
  }

  std::shared_ptr<KernelObject> Lookup(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(reinterpret_cast<ULONG_PTR>(handle));
    return found == objects_.end() ? nullptr : found->second;
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return objects_.size();
  }

  std::shared_ptr<KernelObject> Take(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(reinterpret_cast<ULONG_PTR>(handle));
    if (found == objects_.end()) {
      return nullptr;
    }
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
  }

 private:
  std::mutex mutex_;
  // Values are multiples of 4, never 0 and never INVALID_HANDLE_VALUE.
  ULONG_PTR next_ = ULONG_PTR{1} << 40;
  std::unordered_map<ULONG_PTR, std::shared_ptr<KernelObject>> objects_;
};

HandleTable& Table() {
  static HandleTable& table = *new HandleTable;  // never destroyed: see Waitable.cpp
  return table;
}

}  // namespace

HANDLE AllocateHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Table().Allocate(std::move(object));
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  return Table().Lookup(handle);
}

std::size_t OpenHandleCount() {
  return Table().Count();
}

BOOL CloseHandle(HANDLE handle) {
  auto object = Table().Take(handle);
  if (!object) {
    return detail::CloseSystemHandle(handle);
  }
  // Outside the table's lock: closing a file ends its pending operations, which may signal.
  object->OnClose();
  if (detail::Tracing()) {
    if (const auto* comm = dynamic_cast<const CommFile*>(object.get())) {
      detail::TraceBool("CloseHandle", comm->Name(), TRUE);
    }
  }
  return TRUE;
}

}  // namespace win

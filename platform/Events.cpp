#include <memory>
#include <vector>

#include "platform/Waitable.h"

namespace win {

using detail::Waitable;

namespace {

class Event final : public Waitable {
 public:
  using Waitable::Waitable;
};

std::shared_ptr<Event> FindEvent(HANDLE handle) {
  auto event = std::dynamic_pointer_cast<Event>(LookupHandle(handle));
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return event;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name != nullptr && *name != '\0') {
    // Named events are shared between processes; nothing here needs them.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return AllocateHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
  auto object = FindEvent(event);
  if (!object) {
    return FALSE;
  }
  object->Signal();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto object = FindEvent(event);
  if (!object) {
    return FALSE;
  }
  object->Reset();
  return TRUE;
}

void AttachWaitDriver(HANDLE event, std::weak_ptr<WaitDriver> driver) {
  if (auto object = std::dynamic_pointer_cast<Event>(LookupHandle(event))) {
    object->AttachDriver(std::move(driver));
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  // The waiter holds its own references: closing a handle meanwhile does not end the wait.
  std::vector<std::shared_ptr<Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = handles[i] == INVALID_HANDLE_VALUE
                      ? detail::CurrentProcess()
                      : std::dynamic_pointer_cast<Waitable>(LookupHandle(handles[i]));
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  return detail::WaitFor(objects, waitAll != FALSE, milliseconds);
}

}  // namespace win

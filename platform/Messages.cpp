// Message targets: HWND values are tokens of this table. A message sent from another thread than
// the target's owner travels through the target's queue as an internal message that names a
// waiting request; DeliverQueued runs it on the owner and releases the sender. A window that is
// not a target goes to the system where there is one (Windows: the application's real windows).

#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/Additions.h"
#include "platform/SystemHandles.h"

namespace win {

namespace {

// Above the 16-bit range of window messages, so no program message can collide with it.
constexpr UINT kCrossThreadSend = 0x00010001;

// Targets count up from here, far above the values of the system's windows, which fit in 32 bits.
constexpr ULONG_PTR kFirstTarget = ULONG_PTR{1} << 40;

// A window that may be the system's: neither null (which names no window here; the layer has no
// thread queues to post to) nor a value of the targets' range, gone or not.
bool SystemWindow(HWND window) {
  const auto value = reinterpret_cast<ULONG_PTR>(window);
  return value != 0 && value < kFirstTarget;
}

struct SendRequest {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  bool delivered = false;
};

struct Target {
  MessageTarget* target;
  DWORD owner;
  bool topLevel;
};

class MessageRegistry {
 public:
  HWND Register(MessageTarget* target, bool topLevel) {
    std::lock_guard lock(mutex_);
    nextWindow_ += 0x10;
    targets_.emplace(nextWindow_, Target{target, GetCurrentThreadId(), topLevel});
    return reinterpret_cast<HWND>(nextWindow_);
  }

  void Unregister(HWND window) {
    std::lock_guard lock(mutex_);
    targets_.erase(Key(window));
    // Senders still waiting for the gone target are released with 0.
    for (auto request = requests_.begin(); request != requests_.end();) {
      if (request->second->window == window) {
        request->second->done = true;
        request = requests_.erase(request);
      } else {
        ++request;
      }
    }
    finished_.notify_all();
  }

  LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::unique_lock lock(mutex_);
    auto found = targets_.find(Key(window));
    if (found == targets_.end()) {
      lock.unlock();
      if (!SystemWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      return detail::SendSystemMessage(window, message, wParam, lParam);
    }
    MessageTarget* target = found->second.target;
    if (found->second.owner == GetCurrentThreadId()) {
      lock.unlock();
      return target->WindowProc(message, wParam, lParam);
    }
    auto request = std::make_shared<SendRequest>(SendRequest{window, message, wParam, lParam});
    const LPARAM id = ++nextRequest_;
    requests_.emplace(id, request);
    target->PostToQueue(kCrossThreadSend, 0, id);
    finished_.wait(lock, [&] { return request->done; });
    if (!request->delivered) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return request->result;
  }

  // False when `window` is not a target.
  bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    auto found = targets_.find(Key(window));
    if (found == targets_.end()) {
      return false;
    }
    found->second.target->PostToQueue(message, wParam, lParam);
    return true;
  }

  // Posting under the lock: a target cannot be unregistered (and go away) while it is posted to.
  void Broadcast(WPARAM event, DWORD deviceType) {
    std::lock_guard lock(mutex_);
    auto header = headers_.try_emplace(deviceType,
                                       DEV_BROADCAST_HDR{sizeof(DEV_BROADCAST_HDR), deviceType, 0});
    const auto lParam = reinterpret_cast<LPARAM>(&header.first->second);
    for (const auto& [key, target] : targets_) {
      if (target.topLevel) {
        target.target->PostToQueue(WM_DEVICECHANGE, event, lParam);
      }
    }
  }

  std::shared_ptr<SendRequest> TakeRequest(LPARAM id) {
    std::lock_guard lock(mutex_);
    auto found = requests_.find(id);
    if (found == requests_.end()) {
      return nullptr;
    }
    auto request = std::move(found->second);
    requests_.erase(found);
    return request;
  }

  void Finish(SendRequest& request, LRESULT result) {
    std::lock_guard lock(mutex_);
    request.result = result;
    request.delivered = true;
    request.done = true;
    finished_.notify_all();
  }

 private:
  static ULONG_PTR Key(HWND window) { return reinterpret_cast<ULONG_PTR>(window); }

  std::mutex mutex_;
  std::condition_variable finished_;
  std::map<ULONG_PTR, Target> targets_;
  std::map<LPARAM, std::shared_ptr<SendRequest>> requests_;
  // Headers of the broadcast: nodes of a map never move, so their addresses stay valid.
  std::map<DWORD, DEV_BROADCAST_HDR> headers_;
  ULONG_PTR nextWindow_ = kFirstTarget;
  LPARAM nextRequest_ = 0;
};

MessageRegistry& Registry() {
  static MessageRegistry& registry = *new MessageRegistry;  // never destroyed: see Waitable.cpp
  return registry;
}

}  // namespace

LRESULT MessageTarget::DeliverQueued(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kCrossThreadSend) {
    return WindowProc(message, wParam, lParam);
  }
  auto request = Registry().TakeRequest(lParam);
  if (!request) {
    return 0;
  }
  // The sender is released also when the window procedure throws.
  struct Release {
    SendRequest& request;
    LRESULT result = 0;
    ~Release() { Registry().Finish(request, result); }
  } release{*request};
  release.result = WindowProc(request->message, request->wParam, request->lParam);
  return release.result;
}

HWND RegisterMessageTarget(MessageTarget* target, bool topLevel) {
  if (target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Registry().Register(target, topLevel);
}

void UnregisterMessageTarget(HWND window) {
  Registry().Unregister(window);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Registry().Send(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Registry().Post(window, message, wParam, lParam)) {
    return TRUE;
  }
  if (!SystemWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return detail::PostSystemMessage(window, message, wParam, lParam);
}

void BroadcastDeviceChange(WPARAM event, DWORD deviceType) {
  Registry().Broadcast(event, deviceType);
}

}  // namespace win

// The application's seams: message boxes, title, the handler of escaped exceptions and the
// message pump. Each hook is copied out under the lock and called outside it.

#include <iostream>
#include <mutex>

#include "platform/Additions.h"

namespace win {

namespace {

struct Hooks {
  std::mutex mutex;
  MessageBoxHook messageBox;
  std::string title;
  ExceptionHook exception;
  std::function<void()> pump;
};

Hooks& TheHooks() {
  static Hooks& hooks = *new Hooks;  // never destroyed: see Waitable.cpp
  return hooks;
}

template <class Member>
auto Copy(Member Hooks::*member) {
  auto& hooks = TheHooks();
  std::lock_guard lock(hooks.mutex);
  return hooks.*member;
}

template <class Member, class Value>
void Store(Member Hooks::*member, Value value) {
  auto& hooks = TheHooks();
  std::lock_guard lock(hooks.mutex);
  hooks.*member = std::move(value);
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  Store(&Hooks::messageBox, std::move(hook));
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string textString = text != nullptr ? text : "";
  const std::string captionString = caption != nullptr ? caption : "Error";
  if (auto hook = Copy(&Hooks::messageBox)) {
    return hook(owner, textString, captionString, type);
  }
  std::cerr << captionString << ": " << textString << std::endl;
  return IDOK;
}

void SetApplicationTitle(std::string title) {
  Store(&Hooks::title, std::move(title));
}

std::string ApplicationTitle() {
  return Copy(&Hooks::title);
}

void SetApplicationExceptionHook(ExceptionHook hook) {
  Store(&Hooks::exception, std::move(hook));
}

void HandleApplicationException(std::exception_ptr error) {
  if (!error) {
    return;
  }
  if (auto hook = Copy(&Hooks::exception)) {
    hook(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& exception) {
    std::cerr << exception.what() << std::endl;
  } catch (...) {
    std::cerr << "Unknown exception" << std::endl;
  }
}

void SetMessagePump(std::function<void()> pump) {
  Store(&Hooks::pump, std::move(pump));
}

void PumpOneMessage() {
  if (auto pump = Copy(&Hooks::pump)) {
    pump();
  }
}

}  // namespace win

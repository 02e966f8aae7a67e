#pragma once
// TNativeWindowLink: ties the main window to the system's window behind it. On Windows the
// settings page gets that window as its parent, and the window's WM_DEVICECHANGE becomes the
// device-change broadcast; elsewhere the parent is the platform layer's handle of the window and
// the device worlds broadcast by themselves.

#include <QByteArray>
#include <QWidget>
#include <memory>

#include "platform/Win32.h"

class TNativeWindowLink {
 public:
  // `layerHandle`: the window's handle of the platform layer.
  TNativeWindowLink(QWidget& window, win::HWND layerHandle);
  ~TNativeWindowLink();
  TNativeWindowLink(const TNativeWindowLink&) = delete;
  TNativeWindowLink& operator=(const TNativeWindowLink&) = delete;

  // The window's system window was made or replaced (QEvent::WinIdChange).
  void WindowChanged();
  // A native message of the window (QWidget::nativeEvent): true when it was handled here.
  bool NativeEvent(const QByteArray& eventType, void* message, qintptr* result);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

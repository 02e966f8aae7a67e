#pragma once
// WindowColor and the other colours: the system colours the windows are drawn with, fixed so that
// every platform looks alike.

#include <QColor>
#include <algorithm>

// The window background (clWindow).
inline QColor WindowColor() {
  return QColor(0xFF, 0xFF, 0xFF);
}
// The button shadow (clBtnShadow).
inline QColor ButtonShadowColor() {
  return QColor(0xA0, 0xA0, 0xA0);
}
// The button shadow lightened by 30 on a lightness scale of 0 to 255: thin frame lines.
inline QColor FrameLineColor() {
  const QColor shadow = ButtonShadowColor().toHsl();
  return QColor::fromHsl(shadow.hslHue(), shadow.hslSaturation(),
                         std::min(255, shadow.lightness() + 30));
}

#include "app/Pictures.h"

#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <array>
#include <initializer_list>

// The pictures live in a static library, whose resources the linker would drop unless they are
// registered explicitly. The macro cannot be used inside a namespace.
static void RegisterPictureResources() {
  Q_INIT_RESOURCE(images);
}

namespace {

constexpr std::array<const char*, kImageListCount> kRowFiles = {
    "connector-white.svg", "connector-green.svg", "connector-red.svg",
    "pennant-blue.svg",    "gear-grey.svg",       "gear.svg",
    "pennant-red.svg"};

constexpr std::array<const char*, kImageListCount> kToolbarFiles = {
    "door-exit.svg", "connector.svg", "magnifier.svg", "gear.svg",
    "tick.svg",      "info.svg",      "gear-grey.svg"};

QPixmap Render(const char* file, QSize size) {
  static const bool registered = (RegisterPictureResources(), true);
  (void)registered;
  QSvgRenderer renderer(QStringLiteral(":/images/") + QString::fromLatin1(file));
  if (!renderer.isValid()) {
    return {};
  }
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

// An icon with one pixmap per size, so that each size is drawn for itself, not scaled.
QIcon IconFrom(const char* file, std::initializer_list<int> sizes) {
  QIcon icon;
  for (const int side : sizes) {
    const QPixmap pixmap = Render(file, QSize(side, side));
    if (!pixmap.isNull()) {
      icon.addPixmap(pixmap);
    }
  }
  return icon;
}

QIcon ListImage(const std::array<const char*, kImageListCount>& files, int index) {
  if (index < 0 || index >= kImageListCount) {
    return {};
  }
  // 32 pixels serve screens with twice the pixel density.
  return IconFrom(files[static_cast<std::size_t>(index)], {16, 32});
}

}  // namespace

QIcon RowImage(int index) {
  return ListImage(kRowFiles, index);
}

QIcon ToolbarImage(int index) {
  return ListImage(kToolbarFiles, index);
}

QIcon ApplicationIcon() {
  return IconFrom("talvik.svg", {16, 32, 48});
}

QPixmap LogoPixmap() {
  return Render("logo.svg", QSize(128, 30));
}

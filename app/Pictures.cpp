#include "app/Pictures.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <array>
#include <initializer_list>
#include <map>
#include <string>
#include <tuple>
#include <utility>

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

// Draws an SVG picture at one size. Rows repaint often, so each drawing is kept; images, unlike
// pixmaps, may outlive the application object.
QPixmap Render(const char* file, QSize size) {
  static const bool registered = (RegisterPictureResources(), true);
  (void)registered;
  static std::map<std::tuple<std::string, int, int>, QImage> drawn;
  const auto key = std::make_tuple(std::string(file), size.width(), size.height());
  auto found = drawn.find(key);
  if (found == drawn.end()) {
    QImage image;
    QSvgRenderer renderer(QStringLiteral(":/images/") + QString::fromLatin1(file));
    if (renderer.isValid()) {
      image = QImage(size, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      renderer.render(&painter);
    }
    found = drawn.emplace(key, std::move(image)).first;
  }
  return found->second.isNull() ? QPixmap() : QPixmap::fromImage(found->second);
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

// Pictures drawn from their SVG files, compiled into the program.

#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include "app/PictureSource.h"

// The pictures live in a static library, whose resources the linker would drop unless they are
// registered explicitly. The macro cannot be used inside a namespace.
static void RegisterPictureResources() {
  Q_INIT_RESOURCE(images);
}

QImage DrawPicture(const char* file, QSize size) {
  static const bool registered = (RegisterPictureResources(), true);
  (void)registered;
  QSvgRenderer renderer(QStringLiteral(":/images/") + QString::fromLatin1(file));
  if (!renderer.isValid()) {
    return {};
  }
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  return image;
}

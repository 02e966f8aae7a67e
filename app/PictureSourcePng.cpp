// Pictures from PNG files that the Linux build drew from the SVG files, one per picture and size,
// compiled into the program as ":/pictures/<name>-<width>x<height>.png".

#include <QString>

#include "app/PictureSource.h"
#include "app/Pictures.h"

static void RegisterPictureResources() {
  Q_INIT_RESOURCE(pictures);
}

QImage DrawPicture(const char* file, QSize size) {
  static const bool registered = (RegisterPictureResources(), true);
  (void)registered;
  QImage image(QStringLiteral(":/pictures/") + PictureFileName(file, size));
  if (image.isNull()) {
    return {};
  }
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

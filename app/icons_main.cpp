// talvik-icons DIR: writes the application icon for the hicolor icon theme, one PNG file
// DIR/<n>x<n>/apps/talvik.png for each size the window draws it at. Run by the build.

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "app/Pictures.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: talvik-icons DIR\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication qt(argc, argv);
  const QIcon icon = ApplicationIcon();
  const QList<QSize> sizes = icon.availableSizes();
  for (const QSize& size : sizes) {
    const QString folder = QStringLiteral("%1/%2x%3/apps")
                               .arg(QString::fromLocal8Bit(argv[1]))
                               .arg(size.width())
                               .arg(size.height());
    const QString file = folder + QStringLiteral("/talvik.png");
    if (!QDir().mkpath(folder) || !icon.pixmap(size).save(file, "PNG")) {
      std::fprintf(stderr, "talvik-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return sizes.isEmpty() ? 1 : 0;
}

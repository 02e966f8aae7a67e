// talvik-icons DIR: writes the application icon for the hicolor icon theme, one PNG file
// DIR/<n>x<n>/apps/talvik.png for each size the window draws it at. Run by the build.

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>
#include <vector>

#include "app/Pictures.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: talvik-icons DIR\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication qt(argc, argv);
  const QIcon icon = ApplicationIcon();
  const std::vector<int> sides = ApplicationIconSides();
  for (const int side : sides) {
    const QSize size(side, side);
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
  return sides.empty() ? 1 : 0;
}

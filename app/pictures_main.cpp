// talvik-pictures DIR: draws every picture of the program at every size it asks for, as PNG files
// in DIR, with DIR/pictures.qrc naming them and DIR/talvik.ico, the application icon for a Windows
// program's resources. Run by the Windows build, which has no SVG renderer, so that its pictures
// are the very drawings of the Linux build.

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>
#include <cstdio>
#include <vector>

#include "app/PictureSource.h"
#include "app/Pictures.h"

namespace {

bool Fail(const QString& what) {
  std::fprintf(stderr, "talvik-pictures: %s\n", qPrintable(what));
  return false;
}

bool WritePictures(const QString& folder) {
  QFile list(folder + QStringLiteral("/pictures.qrc"));
  if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    return Fail(QStringLiteral("cannot write ") + list.fileName());
  }
  QTextStream qrc(&list);
  qrc << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/pictures\">\n";
  for (const PictureDrawing& drawing : PictureDrawings()) {
    const QString name = PictureFileName(drawing.file, drawing.size);
    const QImage image = DrawPicture(drawing.file, drawing.size);
    if (image.isNull() || !image.save(folder + '/' + name, "PNG")) {
      return Fail(QStringLiteral("cannot draw ") + name);
    }
    qrc << "    <file>" << name << "</file>\n";
  }
  qrc << "  </qresource>\n</RCC>\n";
  return qrc.status() == QTextStream::Ok;
}

// An .ico file of PNG images, one per size, as Windows reads it since Vista: a header, a directory
// entry per image and the PNG files themselves, all numbers little-endian.
bool WriteIcon(const QString& folder) {
  QList<QByteArray> images;
  const std::vector<int> sides = {16, 24, 32, 48, 64, 256};
  for (const int side : sides) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!DrawPicture("talvik.svg", QSize(side, side)).save(&buffer, "PNG")) {
      return Fail(QStringLiteral("cannot draw the icon at %1 pixels").arg(side));
    }
    images.append(png);
  }
  QByteArray ico;
  QDataStream out(&ico, QIODevice::WriteOnly);
  out.setByteOrder(QDataStream::LittleEndian);
  out << quint16(0) << quint16(1) << quint16(images.size());
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (qsizetype i = 0; i < images.size(); ++i) {
    const int side = sides[static_cast<std::size_t>(i)];
    const auto byteSide = static_cast<quint8>(side >= 256 ? 0 : side);  // 0 means 256
    out << byteSide << byteSide << quint8(0) << quint8(0) << quint16(1) << quint16(32)
        << quint32(images[i].size()) << offset;
    offset += static_cast<quint32>(images[i].size());
  }
  for (const QByteArray& png : images) {
    out.writeRawData(png.constData(), static_cast<int>(png.size()));
  }
  QFile file(folder + QStringLiteral("/talvik.ico"));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(ico) != ico.size()) {
    return Fail(QStringLiteral("cannot write ") + file.fileName());
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fputs("usage: talvik-pictures DIR\n", stderr);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication qt(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    Fail(QStringLiteral("cannot make ") + folder);
    return 1;
  }
  return WritePictures(folder) && WriteIcon(folder) ? 0 : 1;
}

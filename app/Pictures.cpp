#include "app/Pictures.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "app/PictureSource.h"

namespace {

constexpr std::array<const char*, kImageListCount> kRowFiles = {
    "connector-white.svg", "connector-green.svg", "connector-red.svg",
    "pennant-blue.svg",    "gear-grey.svg",       "gear.svg",
    "pennant-red.svg"};

constexpr std::array<const char*, kImageListCount> kToolbarFiles = {
    "door-exit.svg", "connector.svg", "magnifier.svg", "gear.svg",
    "tick.svg",      "info.svg",      "gear-grey.svg"};

constexpr char kApplicationIconFile[] = "talvik.svg";
constexpr char kLogoFile[] = "logo.svg";
constexpr QSize kLogoSize(128, 30);

// The display scales Windows offers; each icon has a pixmap drawn for each, so that no scale
// shows a blurred picture.
constexpr std::array<double, 5> kScales = {1.0, 1.25, 1.5, 2.0, 3.0};

// The sides of an icon whose smallest pixmap is `base` pixels, at every scale, without repeats.
std::vector<int> ScaledSides(std::initializer_list<int> bases) {
  std::vector<int> sides;
  for (const int base : bases) {
    for (const double scale : kScales) {
      const int side = static_cast<int>(std::lround(base * scale));
      if (std::find(sides.begin(), sides.end(), side) == sides.end()) {
        sides.push_back(side);
      }
    }
  }
  return sides;
}

const std::vector<int>& ListSides() {
  static const std::vector<int> sides = ScaledSides({16});
  return sides;
}

const std::vector<int>& ApplicationSides() {
  static const std::vector<int> sides = ScaledSides({16, 32, 48});
  return sides;
}

// Draws a picture at one size. Rows repaint often, so each drawing is kept; images, unlike
// pixmaps, may outlive the application object.
QPixmap Render(const char* file, QSize size) {
  static std::map<std::tuple<std::string, int, int>, QImage> drawn;
  const auto key = std::make_tuple(std::string(file), size.width(), size.height());
  auto found = drawn.find(key);
  if (found == drawn.end()) {
    found = drawn.emplace(key, DrawPicture(file, size)).first;
  }
  return found->second.isNull() ? QPixmap() : QPixmap::fromImage(found->second);
}

// An icon with one pixmap per size, so that each size is drawn for itself, not scaled.
QIcon IconFrom(const char* file, const std::vector<int>& sides) {
  QIcon icon;
  for (const int side : sides) {
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
  return IconFrom(files[static_cast<std::size_t>(index)], ListSides());
}

}  // namespace

QIcon RowImage(int index) {
  return ListImage(kRowFiles, index);
}

QIcon ToolbarImage(int index) {
  return ListImage(kToolbarFiles, index);
}

QIcon ApplicationIcon() {
  return IconFrom(kApplicationIconFile, ApplicationSides());
}

std::vector<int> ApplicationIconSides() {
  return {16, 32, 48};
}

QPixmap LogoPixmap() {
  return Render(kLogoFile, kLogoSize);
}

std::vector<PictureDrawing> PictureDrawings() {
  std::vector<PictureDrawing> drawings;
  std::vector<const char*> listFiles(kRowFiles.begin(), kRowFiles.end());
  for (const char* file : kToolbarFiles) {
    if (std::find(listFiles.begin(), listFiles.end(), std::string_view(file)) == listFiles.end()) {
      listFiles.push_back(file);
    }
  }
  for (const char* file : listFiles) {
    for (const int side : ListSides()) {
      drawings.push_back({file, QSize(side, side)});
    }
  }
  for (const int side : ApplicationSides()) {
    drawings.push_back({kApplicationIconFile, QSize(side, side)});
  }
  drawings.push_back({kLogoFile, kLogoSize});
  return drawings;
}

QString PictureFileName(const char* file, QSize size) {
  QString name = QString::fromLatin1(file);
  name.chop(4);  // ".svg"
  return QStringLiteral("%1-%2x%3.png").arg(name).arg(size.width()).arg(size.height());
}

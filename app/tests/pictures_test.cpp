#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <array>
#include <cstdint>

#include "app/Pictures.h"
#include "testing/QtTestApp.h"

namespace {

// The mean colour of the clearly visible pixels of an image, and how many there are.
struct Ink {
  QColor mean;
  int count = 0;
};

Ink InkOf(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  long long r = 0, g = 0, b = 0;
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() > 200) {
        r += c.red();
        g += c.green();
        b += c.blue();
        ++count;
      }
    }
  }
  if (count == 0) {
    return {};
  }
  return {
      QColor(static_cast<int>(r / count), static_cast<int>(g / count), static_cast<int>(b / count)),
      count};
}

Ink InkOf(const QIcon& icon) {
  return InkOf(icon.pixmap(16, 16).toImage());
}

enum class Tint : std::uint8_t { White, Green, Red, Blue, Grey, Coloured };

// Each list's pictures, by index, with the colour that makes them recognisable.
void ExpectTints(QIcon (*image)(int), const std::array<Tint, kImageListCount>& tints) {
  for (int i = 0; i < kImageListCount; ++i) {
    SCOPED_TRACE(i);
    const QIcon icon = image(i);
    ASSERT_FALSE(icon.isNull());
    const QPixmap pixmap = icon.pixmap(16, 16);
    ASSERT_EQ(pixmap.size(), QSize(16, 16));
    const Ink ink = InkOf(icon);
    // A legible 16 pixel picture covers a fair part of its square.
    EXPECT_GE(ink.count, 30);
    const QColor c = ink.mean;
    const int spread =
        std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
    switch (tints[static_cast<std::size_t>(i)]) {
      case Tint::White:
        EXPECT_GT(c.lightness(), 170) << c.name().toStdString();
        EXPECT_LT(spread, 30) << c.name().toStdString();
        break;
      case Tint::Grey:
        EXPECT_LT(spread, 30) << c.name().toStdString();
        break;
      case Tint::Coloured:
        EXPECT_GE(spread, 40) << c.name().toStdString();
        break;
      case Tint::Green:
        EXPECT_GT(c.green(), c.red() + 30) << c.name().toStdString();
        EXPECT_GT(c.green(), c.blue() + 30) << c.name().toStdString();
        break;
      case Tint::Red:
        EXPECT_GT(c.red(), c.green() + 60) << c.name().toStdString();
        EXPECT_GT(c.red(), c.blue() + 60) << c.name().toStdString();
        break;
      case Tint::Blue:
        EXPECT_GT(c.blue(), c.red() + 60) << c.name().toStdString();
        EXPECT_GT(c.blue(), c.green() + 20) << c.name().toStdString();
        break;
    }
  }
}

class PicturesTest : public ::testing::Test {
 protected:
  void SetUp() override { talvik_test::EnsureQtApp(); }
};

TEST_F(PicturesTest, RowImagesLoadAtSixteenPixelsInTheirColours) {
  // The state icons must not be swapped: green free, red busy, blue and red pennants.
  ExpectTints(&RowImage, {Tint::White, Tint::Green, Tint::Red, Tint::Blue, Tint::Grey,
                          Tint::Coloured, Tint::Red});
}

TEST_F(PicturesTest, ToolbarImagesLoadAtSixteenPixelsInTheirColours) {
  ExpectTints(&ToolbarImage, {Tint::Coloured, Tint::Grey, Tint::Coloured, Tint::Coloured,
                              Tint::Green, Tint::Blue, Tint::Grey});
}

TEST_F(PicturesTest, IndexOutsideTheListGivesAnEmptyIcon) {
  for (const int index : {-1, kImageListCount, 1000}) {
    EXPECT_TRUE(RowImage(index).isNull()) << index;
    EXPECT_TRUE(ToolbarImage(index).isNull()) << index;
  }
}

TEST_F(PicturesTest, ApplicationIconIsAYellowStarAtEachSize) {
  const QIcon icon = ApplicationIcon();
  const QList<QSize> sizes = icon.availableSizes();
  for (const int side : {16, 32, 48}) {
    SCOPED_TRACE(side);
    ASSERT_TRUE(sizes.contains(QSize(side, side)));
    const QImage image = icon.pixmap(side, side).toImage();
    ASSERT_EQ(image.size(), QSize(side, side));
    const QColor centre = image.pixelColor(side / 2, side / 2);
    EXPECT_EQ(centre.alpha(), 255);
    EXPECT_GT(centre.red(), 200);
    EXPECT_GT(centre.green(), 160);
    EXPECT_LT(centre.blue(), 100);
    // A star, not a filled square: the top corners stay transparent.
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(image.pixelColor(side - 1, 0).alpha(), 0);
  }
}

TEST_F(PicturesTest, LogoIsDrawnAtItsSize) {
  const QPixmap logo = LogoPixmap();
  ASSERT_EQ(logo.size(), QSize(128, 30));
  EXPECT_GE(InkOf(logo.toImage()).count, 128 * 30 / 5);
}

}  // namespace

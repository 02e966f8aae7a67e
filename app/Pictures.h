#pragma once
// RowImage, ToolbarImage and ApplicationIcon: the program's pictures: the row images, the tool-bar
// images, the application icon and the maker's logo, drawn from SVG files (see PictureSource.h).
// PictureDrawings lists every picture at every size the program draws, for the builds that bring
// them as PNG files.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <vector>

// Number of images in each of the two image lists.
inline constexpr int kImageListCount = 7;

// Row image `index` (0..6): 0 white connector, 1 green connector, 2 red connector, 3 blue
// pennant, 4 grey gear, 5 gear, 6 red pennant. An index outside gives an empty icon.
QIcon RowImage(int index);

// Tool-bar image `index` (0..6): 0 door with an arrow, 1 connector, 2 magnifying glass, 3 gear,
// 4 green tick, 5 information bubble, 6 grey gear. An index outside gives an empty icon.
QIcon ToolbarImage(int index);

// The yellow star, with pixmaps of 16, 32 and 48 pixels, and of those sizes at the display
// scales of 125, 150, 200 and 300 percent.
QIcon ApplicationIcon();
// The sizes of the icon theme's files: 16, 32 and 48 pixels.
std::vector<int> ApplicationIconSides();

// The maker's logo, 128 by 30 pixels.
QPixmap LogoPixmap();

struct PictureDrawing {
  const char* file;  // the SVG file's name, "gear.svg"
  QSize size;
};

// Every picture at every size the functions above draw it.
std::vector<PictureDrawing> PictureDrawings();

// The PNG file of one drawing: "gear.svg" at 20 by 20 pixels is "gear-20x20.png".
QString PictureFileName(const char* file, QSize size);

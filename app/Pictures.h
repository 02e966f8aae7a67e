#pragma once
// RowImage, ToolbarImage and ApplicationIcon: the program's pictures: the row images, the tool-bar
// images, the application icon and the maker's logo, all drawn from SVG files compiled into the
// program.

#include <QIcon>
#include <QPixmap>

// Number of images in each of the two image lists.
inline constexpr int kImageListCount = 7;

// Row image `index` (0..6): 0 white connector, 1 green connector, 2 red connector, 3 blue
// pennant, 4 grey gear, 5 gear, 6 red pennant. An index outside gives an empty icon.
QIcon RowImage(int index);

// Tool-bar image `index` (0..6): 0 door with an arrow, 1 connector, 2 magnifying glass, 3 gear,
// 4 green tick, 5 information bubble, 6 grey gear. An index outside gives an empty icon.
QIcon ToolbarImage(int index);

// The yellow star, with pixmaps of 16, 32 and 48 pixels.
QIcon ApplicationIcon();

// The maker's logo, 128 by 30 pixels.
QPixmap LogoPixmap();

#pragma once
// DrawPicture: one of the program's pictures, by the name of its SVG file, drawn at one size. Where
// Qt can render SVG the file itself is drawn; elsewhere (the Windows build) the build brings the
// same drawings made ahead by the Linux build, at every size the program asks for.

#include <QImage>
#include <QSize>

// A null image when the picture or that size of it is missing.
QImage DrawPicture(const char* file, QSize size);

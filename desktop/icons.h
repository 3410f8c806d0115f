// The program's icon at the sizes of the desktop's icon theme.
#pragma once

#include <QImage>

namespace kaldrome {

// Scales pixel art to width x height: every new pixel takes the source pixel
// under its centre. No colour is mixed, so the picture stays sharp at any size
// instead of turning into a blur of in-between shades.
QImage ScaleSharp(const QImage& source, int width, int height);

// The program's own icon (the one its windows show) at size x size pixels.
QImage ProgramIconAt(int size);

}  // namespace kaldrome

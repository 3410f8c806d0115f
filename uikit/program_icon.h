// The program's icon: a light grey 32 x 32 square with a blue "n!".
//
// Drawn in code pixel by pixel, so the program ships no image file for it.
#pragma once

#include <QIcon>
#include <QImage>

namespace kaldrome {

// The 32 x 32 icon image, 16 colours (the standard 16-colour palette), opaque.
QImage ProgramIconImage();

// The same image as an icon for windows.
QIcon ProgramIcon();

}  // namespace kaldrome

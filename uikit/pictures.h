// The About window's pictures, drawn in code so that no binary asset has to be kept:
// the "Visit Us" link picture, the decorative strip and the pointing-hand pointer.
// All of them use only the sixteen standard VGA colours, like the program icon.
#pragma once

#include <QCursor>
#include <QImage>

namespace kaldrome {

// 124 x 18: a small globe and the maker's name, underlined like a link.
QImage LinkPictureImage();

// 229 x 9: a horizontal band, stretched by the window to the strip's size.
QImage StripImage();

// 32 x 32 pointing hand; transparent outside the hand. Hot spot at the fingertip.
QImage HandCursorImage();
inline constexpr int HandHotX = 9;
inline constexpr int HandHotY = 2;
QCursor HandCursor();

}  // namespace kaldrome

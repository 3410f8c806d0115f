// The windows are laid out in twips, 15 to a device-independent pixel.
#pragma once

#include <QRect>
#include <QtMath>

namespace kaldrome {

constexpr int TwipsPerPixel = 15;

inline int TwipsToPixels(int twips) {
    return qRound(static_cast<double>(twips) / TwipsPerPixel);
}

// Left, top, width and height in twips.
inline QRect Twips(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

}  // namespace kaldrome

#include "desktop/icons.h"

// The one place outside the window code that knows where the icon is drawn.
#include "uikit/program_icon.h"

namespace kaldrome {

QImage ScaleSharp(const QImage& source, int width, int height) {
    if (source.isNull() || width <= 0 || height <= 0) return {};
    const QImage from = source.convertToFormat(QImage::Format_ARGB32);
    QImage to(width, height,
              source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        // Centre of the new pixel in source coordinates, in exact integers:
        // (2y + 1) / 2 * h / height.
        const int sy = static_cast<int>((2LL * y + 1) * from.height() / (2LL * height));
        const auto* in = reinterpret_cast<const QRgb*>(from.constScanLine(sy));
        auto* out = reinterpret_cast<QRgb*>(to.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = in[static_cast<int>((2LL * x + 1) * from.width() / (2LL * width))];
    }
    return to;
}

QImage ProgramIconAt(int size) {
    return ScaleSharp(ProgramIconImage(), size, size);
}

}  // namespace kaldrome

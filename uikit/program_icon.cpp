#include "uikit/program_icon.h"

#include <QPixmap>
#include <QVector>

namespace kaldrome {

namespace {

constexpr int IconSize = 32;

// The standard 16-colour palette, in its usual order.
const QVector<QRgb>& SixteenColours() {
    static const QVector<QRgb> colours = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    return colours;
}

constexpr int LightGrey = 7;  // 192, 192, 192
constexpr int Blue = 12;      // 0, 0, 255

// Fills columns left..right and rows top..bottom, all inclusive.
void FillBlock(QImage& image, int left, int right, int top, int bottom) {
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) image.setPixel(x, y, Blue);
}

}  // namespace

QImage ProgramIconImage() {
    QImage image(IconSize, IconSize, QImage::Format_Indexed8);
    image.setColorTable(SixteenColours());
    image.fill(LightGrey);
    // The n: a bar over two legs.
    FillBlock(image, 5, 16, 9, 10);
    FillBlock(image, 5, 6, 9, 25);
    FillBlock(image, 15, 16, 9, 25);
    // The exclamation mark: stem and dot.
    FillBlock(image, 25, 26, 4, 22);
    FillBlock(image, 25, 26, 24, 25);
    return image;
}

QIcon ProgramIcon() {
    return QIcon(QPixmap::fromImage(ProgramIconImage()));
}

}  // namespace kaldrome

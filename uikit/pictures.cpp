#include "uikit/pictures.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

namespace kaldrome {

namespace {

constexpr QRgb Black = qRgb(0, 0, 0);
constexpr QRgb Navy = qRgb(0, 0, 128);
constexpr QRgb Teal = qRgb(0, 128, 128);
constexpr QRgb Silver = qRgb(192, 192, 192);
constexpr QRgb Blue = qRgb(0, 0, 255);
constexpr QRgb Aqua = qRgb(0, 255, 255);
constexpr QRgb White = qRgb(255, 255, 255);
constexpr QRgb Green = qRgb(0, 128, 0);

// Pixel art of the hand, one character per pixel: '#' outline, 'o' fill,
// anything else transparent. Drawn at (HandLeft, HandTop) in the 32 x 32 cursor.
constexpr int HandLeft = 4;
constexpr int HandTop = 2;
constexpr const char* HandArt[] = {
    "     ##          ",  //
    "    #oo#         ",  //
    "    #oo#         ",  //
    "    #oo#         ",  //
    "    #oo###       ",  //
    "    #oo#oo###    ",  //
    "    #oo#oo#oo##  ",  //
    "    #oo#oo#oo#o# ",  //
    " ## #oo#oo#oo#oo#",  //
    "#oo##ooooooooooo#",  //
    "#ooo#ooooooooooo#",  //
    " #oooooooooooooo#",  //
    "  #ooooooooooooo#",  //
    "  #oooooooooooo# ",  //
    "   #ooooooooooo# ",  //
    "   #oooooooooo#  ",  //
    "    #ooooooooo#  ",  //
    "    #ooooooooo#  ",  //
    "    ###########  ",  //
};

}  // namespace

QImage LinkPictureImage() {
    QImage img(124, 18, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    // Hard edges only: anti-aliasing would bring in colours outside the sixteen.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);

    // The globe: a filled disc with an equator and a meridian.
    p.setPen(QColor(Navy));
    p.setBrush(QColor(Aqua));
    p.drawEllipse(QRect(1, 1, 15, 15));
    p.setPen(QColor(Teal));
    p.drawLine(2, 8, 15, 8);
    p.drawLine(8, 2, 8, 15);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(5, 2, 6, 13));
    p.setPen(QColor(Green));
    p.drawPoint(5, 6);
    p.drawPoint(6, 5);
    p.drawPoint(11, 11);
    p.drawPoint(10, 12);

    // The maker's name, blue and underlined, as large as fits beside the globe.
    const QString text = QStringLiteral("Orvane Software");
    const QRect textBox(19, 0, 124 - 19, 18);
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    int pixelSize = 13;
    for (; pixelSize > 7; --pixelSize) {
        font.setPixelSize(pixelSize);
        if (QFontMetrics(font).horizontalAdvance(text) <= textBox.width()) break;
    }
    p.setFont(font);
    const QFontMetrics fm(font);
    const int baseline = (18 + fm.ascent() - fm.descent()) / 2;
    p.setPen(QColor(Blue));
    p.drawText(textBox.left(), baseline, text);
    const int textWidth = fm.horizontalAdvance(text);
    p.drawLine(textBox.left(), baseline + 2, textBox.left() + textWidth - 1, baseline + 2);
    p.end();
    return img;
}

QImage StripImage() {
    // Symmetric bands, dark at the edges and light in the middle, so that the
    // strip still reads as a raised rule when squeezed to a few pixels.
    static constexpr QRgb bands[9] = {Navy, Blue, Teal, Aqua, White, Aqua, Teal, Blue, Navy};
    QImage img(229, 9, QImage::Format_RGB32);
    for (int y = 0; y < 9; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < 229; ++x) line[x] = bands[y];
    }
    // A silver tick every 16 pixels breaks the band into segments.
    for (int x = 8; x < 229; x += 16) {
        for (int y = 2; y < 7; ++y) img.setPixel(x, y, Silver);
    }
    return img;
}

QImage HandCursorImage() {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    int y = HandTop;
    for (const char* row : HandArt) {
        for (int x = 0; row[x] != '\0'; ++x) {
            if (row[x] == '#') img.setPixel(HandLeft + x, y, Black);
            if (row[x] == 'o') img.setPixel(HandLeft + x, y, White);
        }
        ++y;
    }
    return img;
}

QCursor HandCursor() {
    return QCursor(QPixmap::fromImage(HandCursorImage()), HandHotX, HandHotY);
}

}  // namespace kaldrome

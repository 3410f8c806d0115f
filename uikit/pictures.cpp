#include "uikit/pictures.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

namespace kaldrome {

namespace {

constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kNavy = qRgb(0, 0, 128);
constexpr QRgb kTeal = qRgb(0, 128, 128);
constexpr QRgb kSilver = qRgb(192, 192, 192);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kAqua = qRgb(0, 255, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kGreen = qRgb(0, 128, 0);

// Pixel art of the hand, one character per pixel: '#' outline, 'o' fill,
// anything else transparent. Drawn at (kHandLeft, kHandTop) in the 32 x 32 cursor.
constexpr int kHandLeft = 4;
constexpr int kHandTop = 2;
constexpr const char* kHandArt[] = {
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
    p.setPen(QColor(kNavy));
    p.setBrush(QColor(kAqua));
    p.drawEllipse(QRect(1, 1, 15, 15));
    p.setPen(QColor(kTeal));
    p.drawLine(2, 8, 15, 8);
    p.drawLine(8, 2, 8, 15);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(5, 2, 6, 13));
    p.setPen(QColor(kGreen));
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
    p.setPen(QColor(kBlue));
    p.drawText(textBox.left(), baseline, text);
    const int textWidth = fm.horizontalAdvance(text);
    p.drawLine(textBox.left(), baseline + 2, textBox.left() + textWidth - 1, baseline + 2);
    p.end();
    return img;
}

QImage StripImage() {
    // Symmetric bands, dark at the edges and light in the middle, so that the
    // strip still reads as a raised rule when squeezed to a few pixels.
    static constexpr QRgb bands[9] = {kNavy, kBlue, kTeal, kAqua, kWhite,
                                      kAqua, kTeal, kBlue, kNavy};
    QImage img(229, 9, QImage::Format_RGB32);
    for (int y = 0; y < 9; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < 229; ++x) line[x] = bands[y];
    }
    // A silver tick every 16 pixels breaks the band into segments.
    for (int x = 8; x < 229; x += 16) {
        for (int y = 2; y < 7; ++y) img.setPixel(x, y, kSilver);
    }
    return img;
}

QImage HandCursorImage() {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    int y = kHandTop;
    for (const char* row : kHandArt) {
        for (int x = 0; row[x] != '\0'; ++x) {
            if (row[x] == '#') img.setPixel(kHandLeft + x, y, kBlack);
            if (row[x] == 'o') img.setPixel(kHandLeft + x, y, kWhite);
        }
        ++y;
    }
    return img;
}

QCursor HandCursor() {
    return QCursor(QPixmap::fromImage(HandCursorImage()), HandHotX, HandHotY);
}

}  // namespace kaldrome

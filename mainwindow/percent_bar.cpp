#include "mainwindow/percent_bar.h"

#include <QAccessible>
#include <QFont>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

#include "engine/progress.h"
#include "mainwindow/accessible.h"

namespace kaldrome {

namespace {

// The drawing's user scale: 100 units across, 10 down, origin top left.
constexpr double ScaleWidth = 100.0;
constexpr double ScaleHeight = 10.0;
constexpr double TextTop = 2.0;
constexpr double TextLeft = ScaleWidth / 2 - ScaleWidth / 15;  // 43.33

const QColor TextColour(0, 0, 192);
const QColor Background(255, 255, 0);

}  // namespace

PercentBar::PercentBar(QWidget* parent) : QWidget(parent) {
    // The image covers the whole widget; nothing behind it needs painting.
    setAttribute(Qt::WA_OpaquePaintEvent);
    InstallAccessibleViews();
}

QSize PercentBar::DeviceSize(qreal dpr) const {
    return QSize(qRound(width() * dpr), qRound(height() * dpr));
}

int PercentBar::BarPixelsFor(float p, int deviceWidth) {
    if (!(p > 0.0f)) return 0;  // also NaN
    if (p >= 100.0f) return deviceWidth;
    return static_cast<int>(std::lround(static_cast<double>(p) * deviceWidth / ScaleWidth));
}

int PercentBar::BarPixels(float p) const {
    return BarPixelsFor(p, DeviceSize(devicePixelRatioF()).width());
}

void PercentBar::SetSeparators(const NumberSeparators& separators) {
    // Every percent text has a decimal separator, so the next Draw renders.
    separators_ = separators;
}

void PercentBar::Draw(float p) {
    std::string text = PercentText(p, separators_);
    percent_ = p;
    // The size is checked here as well as on resize events: a hidden widget
    // gets its resize event only when it is shown.
    if (drawn_ && size() == size_ && text == text_ &&
        BarPixelsFor(p, deviceSize_.width()) == barPixels_)
        return;
    drawn_ = true;
    text_ = std::move(text);
    Render();
    update();
    // A screen reader hears the percent in whole steps: one event per 0.01 %
    // drawn would only pile up behind it.
    const int whole =
        std::isfinite(p) ? static_cast<int>(std::floor(std::clamp(p, 0.0f, 100.0f))) : -1;
    if (whole != announced_) {
        announced_ = whole;
        ++announcements_;
        QAccessibleValueChangeEvent changed(this, double(p));
        QAccessible::updateAccessibility(&changed);
    }
}

void PercentBar::Render() {
    dpr_ = devicePixelRatioF();
    size_ = size();
    deviceSize_ = DeviceSize(dpr_);
    barPixels_ = BarPixelsFor(percent_, deviceSize_.width());
    ++paintCount_;

    // Clear the box to the background colour.
    image_ = QImage(deviceSize_, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(logicalDpiY() / 0.0254);
    image_.setDotsPerMeterX(dotsPerMeter);
    image_.setDotsPerMeterY(dotsPerMeter);
    image_.fill(Background);
    if (image_.isNull()) return;

    QPainter painter(&image_);

    // The text, in the widget's logical pixels; no antialiasing, so the text
    // keeps its one colour and the inversion gives exactly the other one.
    painter.scale(dpr_, dpr_);
    QFont textFont = font();
    textFont.setPointSize(TextPointSize);
    textFont.setBold(true);
    textFont.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(textFont);
    painter.setPen(TextColour);
    const double unitX = width() / ScaleWidth;
    const double unitY = height() / ScaleHeight;
    const double baseline = TextTop * unitY + painter.fontMetrics().ascent();
    painter.drawText(QPointF(TextLeft * unitX, baseline), QString::fromStdString(text_));

    // The bar, in whole device pixels: XOR with white inverts every pixel it
    // covers (yellow becomes blue, the text colour light yellow).
    painter.resetTransform();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(QRect(0, 0, barPixels_, deviceSize_.height()), Qt::white);
    painter.end();

    image_.setDevicePixelRatio(dpr_);
}

void PercentBar::paintEvent(QPaintEvent* event) {
    // A move to a screen of another scale changes the pixels the image needs.
    if (drawn_ && (devicePixelRatioF() != dpr_ || size() != size_)) Render();
    QPainter painter(this);
    if (image_.isNull())
        painter.fillRect(event->rect(), Background);
    else
        painter.drawImage(QPoint(0, 0), image_);
}

void PercentBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (drawn_ && size() != size_) Render();
}

}  // namespace kaldrome

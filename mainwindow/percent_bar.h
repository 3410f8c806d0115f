// The progress bar of the main window (picPercentBar).
//
// Draw renders the bar into an offscreen image the size of the widget (in
// device pixels, so it stays sharp at any scaling) and the widget shows the
// last image rendered. Draw runs once per factor of a run, so it renders only
// when the visible result would change: the text changes in steps of 0.01 %
// and the bar in whole pixels; otherwise it returns after formatting the text
// and comparing it and the bar width with the last ones.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

#include "base/number_format.h"

namespace kaldrome {

class PercentBar : public QWidget {
    Q_OBJECT
  public:
    explicit PercentBar(QWidget* parent = nullptr);

    // Draws the bar for p percent (0 < p <= 100): the text p "#.00" "%" in bold
    // 10 pt RGB(0, 0, 192) over yellow at 43.33 / 2 of a 100 x 10 scale, then
    // the covered part inverted. Re-renders only when the image would differ.
    void Draw(float p);

    // The text of the last Draw ("" before the first). A screen reader hears
    // of a new percent when the image changes into a new whole percent; how
    // many times it did.
    QString Text() const { return QString::fromStdString(text_); }
    int Announcements() const { return announcements_; }

    // The last image rendered (widget size times the device pixel ratio; the
    // image carries that ratio). Null before the first Draw.
    const QImage& Image() const { return image_; }

    // How many times the image was actually rendered.
    int PaintCount() const { return paintCount_; }
    // The percent of the last Draw.
    float Percent() const { return percent_; }

    // The width in device pixels of the inverted bar for p at the widget's
    // present size and scale.
    int BarPixels(float p) const;

    // The separators of the text ("." and "," unless set).
    const NumberSeparators& Separators() const { return separators_; }
    void SetSeparators(const NumberSeparators& separators);

    static constexpr int TextPointSize = 10;

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    void Render();
    QSize DeviceSize(qreal dpr) const;
    static int BarPixelsFor(float p, int deviceWidth);

    NumberSeparators separators_;
    QImage image_;
    int paintCount_ = 0;
    bool drawn_ = false;  // Draw has run at least once
    float percent_ = 0;
    std::string text_;
    int barPixels_ = -1;
    int announced_ = -1;  // the whole percent a screen reader last heard of
    int announcements_ = 0;
    qreal dpr_ = 1;
    QSize size_;        // widget size of the image
    QSize deviceSize_;  // its size in device pixels
};

}  // namespace kaldrome

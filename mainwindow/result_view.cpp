#include "mainwindow/result_view.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstring>
#include <limits>

#include "base/check.h"

namespace kaldrome {

namespace {

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ResultView::ResultView(QWidget* parent) : QAbstractScrollArea(parent) {
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // A text box's pointer, as over any box of text.
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);  // the vertical bar counts lines
    UpdateScrollBars();
}

void ResultView::SetText(std::string_view text) {
    // Offsets are 32 bits: a result's text is far below 4 GB.
    KALDROME_ASSERT(text.size() < std::numeric_limits<std::uint32_t>::max());
    std::vector<std::uint32_t> starts;
    std::size_t longest = 0;
    if (!text.empty()) {
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const auto breaks = std::count(begin, end, '\n');
        starts.reserve(static_cast<std::size_t>(breaks) + 1);  // may throw: nothing changed yet
        const char* line = begin;
        while (line < end) {
            starts.push_back(static_cast<std::uint32_t>(line - begin));
            const void* found = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
            const char* lineEnd = found ? static_cast<const char*>(found) : end;
            const char* next = found ? lineEnd + 1 : end;
            if (lineEnd > line && lineEnd[-1] == '\r') --lineEnd;
            longest = std::max(longest, static_cast<std::size_t>(lineEnd - line));
            line = next;
        }
    }
    text_ = text;
    lineStarts_.swap(starts);
    longestLine_ = longest;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
}

void ResultView::Clear() {
    text_ = {};
    std::vector<std::uint32_t>().swap(lineStarts_);  // gives the memory back
    longestLine_ = 0;
    UpdateScrollBars();
    viewport()->update();
}

std::string_view ResultView::Line(std::int64_t i) const {
    KALDROME_ASSERT(i >= 0 && i < LineCount());
    const auto k = static_cast<std::size_t>(i);
    const std::size_t begin = lineStarts_[k];
    std::size_t end = k + 1 < lineStarts_.size() ? lineStarts_[k + 1] : text_.size();
    if (end > begin && text_[end - 1] == '\n') --end;
    if (end > begin && text_[end - 1] == '\r') --end;
    return text_.substr(begin, end - begin);
}

int ResultView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

std::int64_t ResultView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

int ResultView::WholeLinesInView() const {
    return std::max(1, (viewport()->height() - 2 * Margin) / LineHeight());
}

void ResultView::UpdateScrollBars() {
    // The vertical bar stops when the last line is at the bottom; the
    // horizontal one when the end of the longest line is in sight.
    QScrollBar* vertical = verticalScrollBar();
    const int whole = WholeLinesInView();
    const std::int64_t lastTop = std::max<std::int64_t>(0, LineCount() - whole);
    vertical->setRange(0, static_cast<int>(std::min<std::int64_t>(lastTop, INT32_MAX)));
    vertical->setPageStep(whole);

    QScrollBar* horizontal = horizontalScrollBar();
    const QFontMetrics metrics = fontMetrics();
    // Measured on a line of that many digits: the result's lines are digits and spaces.
    const int textWidth =
        metrics.horizontalAdvance(QString(static_cast<qsizetype>(longestLine_), QLatin1Char('0')));
    const int room = viewport()->width() - 2 * Margin;
    horizontal->setRange(0, std::max(0, textWidth - room));
    horizontal->setPageStep(std::max(1, room));
    horizontal->setSingleStep(std::max(1, metrics.averageCharWidth()));
}

void ResultView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const std::int64_t first = FirstVisibleLine();
    const QRect area = event->rect();
    // Only the lines whose band meets the area to repaint.
    const std::int64_t from = first + std::max(0, (area.top() - Margin) / height);
    const std::int64_t to = std::min(LineCount(), first + (area.bottom() - Margin) / height + 1);
    const int x = Margin - horizontalScrollBar()->value();
    for (std::int64_t i = from; i < to; ++i) {
        const int top = Margin + static_cast<int>(i - first) * height;
        painter.drawText(x, top + ascent, Latin1(Line(i)));
    }
    paintedFirst_ = from;
    paintedEnd_ = std::max(from, to);
    ++paints_;
}

void ResultView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void ResultView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateScrollBars();
}

void ResultView::keyPressEvent(QKeyEvent* event) {
    // Home and End go to the top and the bottom, with Ctrl or without; the
    // arrow and page keys scroll as in any scroll area.
    switch (event->key()) {
        case Qt::Key_Home:
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
            break;
        case Qt::Key_End:
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

}  // namespace kaldrome

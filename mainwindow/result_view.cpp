#include "mainwindow/result_view.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <cstring>
#include <limits>

#include "base/check.h"
#include "mainwindow/accessible.h"

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
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { CaretMoved(); });
    UpdateScrollBars();
    InstallAccessibleViews();
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

std::int64_t ResultView::LineStart(std::int64_t i) const {
    KALDROME_ASSERT(i >= 0 && i < LineCount());
    return lineStarts_[static_cast<std::size_t>(i)];
}

std::int64_t ResultView::LineEnd(std::int64_t i) const {
    KALDROME_ASSERT(i >= 0 && i < LineCount());
    return i + 1 < LineCount() ? LineStart(i + 1) : Length();
}

std::int64_t ResultView::LineOf(std::int64_t offset) const {
    const auto after =
        std::upper_bound(lineStarts_.begin(), lineStarts_.end(),
                         static_cast<std::uint64_t>(std::max<std::int64_t>(0, offset)));
    return std::max<std::int64_t>(0, (after - lineStarts_.begin()) - 1);
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

void ResultView::ScrollToLine(std::int64_t i) {
    verticalScrollBar()->setValue(static_cast<int>(std::clamp<std::int64_t>(i, 0, INT32_MAX)));
}

std::int64_t ResultView::CaretOffset() const {
    return LineCount() == 0 ? 0 : LineStart(std::min(FirstVisibleLine(), LineCount() - 1));
}

QRect ResultView::CharacterRect(std::int64_t offset) const {
    if (offset < 0 || offset >= Length()) return {};
    const std::int64_t line = LineOf(offset);
    const std::string_view text = Line(line);
    const auto column = static_cast<std::size_t>(offset - LineStart(line));
    const QFontMetrics metrics = fontMetrics();
    // The line end has no width of its own.
    const int left = metrics.horizontalAdvance(Latin1(text.substr(0, column)));
    const int width =
        column < text.size() ? metrics.horizontalAdvance(QLatin1Char(text[column])) : 0;
    const int top = Margin + static_cast<int>(line - FirstVisibleLine()) * LineHeight();
    return QRect(Margin - horizontalScrollBar()->value() + left, top, width, LineHeight());
}

std::int64_t ResultView::OffsetAt(const QPoint& point) const {
    if (LineCount() == 0 || point.y() < Margin) return -1;
    const std::int64_t line = FirstVisibleLine() + (point.y() - Margin) / LineHeight();
    if (line >= LineCount()) return -1;
    const std::string_view text = Line(line);
    const QFontMetrics metrics = fontMetrics();
    int x = Margin - horizontalScrollBar()->value();
    for (std::size_t column = 0; column < text.size(); ++column) {
        const int next = x + metrics.horizontalAdvance(QLatin1Char(text[column]));
        if (point.x() >= x && point.x() < next)
            return LineStart(line) + static_cast<std::int64_t>(column);
        x = next;
    }
    return -1;
}

void ResultView::RequestPopUpMenu() {
    const QPoint below(Margin, Margin + LineHeight());
    emit PopUpMenuRequested(viewport()->mapToGlobal(below));
}

void ResultView::CaretMoved() {
    // The screen reader reads the line the caret lands on; the frame follows it.
    if (hasFocus()) viewport()->update();
    if (!QAccessible::isActive()) return;
    QAccessibleTextCursorEvent moved(this, static_cast<int>(CaretOffset()));
    QAccessible::updateAccessibility(&moved);
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
    const int height = LineHeight();
    const int ascent = fontMetrics().ascent();
    const std::int64_t first = FirstVisibleLine();
    const QRect area = event->rect();
    // Only the lines whose band meets the area to repaint.
    const std::int64_t from = first + std::max(0, (area.top() - Margin) / height);
    const std::int64_t to = std::min(LineCount(), first + (area.bottom() - Margin) / height + 1);
    if (hasFocus()) {
        // Where the keyboard is: a frame round the caret's line, across the
        // box, under the digits.
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = QRect(1, Margin - 1, viewport()->width() - 2, height + 2);
        frame.backgroundColor = palette().color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }
    painter.setPen(palette().color(QPalette::Text));
    const int x = Margin - horizontalScrollBar()->value();
    for (std::int64_t i = from; i < to; ++i) {
        const int top = Margin + static_cast<int>(i - first) * height;
        painter.drawText(x, top + ascent, Latin1(Line(i)));
    }
    paintedFirst_ = from;
    paintedEnd_ = std::max(from, to);
    ++paints_;
}

void ResultView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ResultView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
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
    // arrow and page keys scroll as in any scroll area. The Menu key and
    // Shift+F10 open the pop-up menu that the right button opens.
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        RequestPopUpMenu();
        return;
    }
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

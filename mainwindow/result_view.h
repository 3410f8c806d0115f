// rtfResp, the result box: a read-only view of a text that paints only the
// lines in sight, straight from the text it is given. The largest result has
// 7.5 million characters in 159,021 lines; the view keeps no copy of them and
// needs nothing but the offset of each line.
//
// It scrolls with its scroll bars, the wheel and, while it has the focus, the
// arrow, page, Home and End keys. It takes no typing and selects nothing.
//
// For the keyboard and screen readers its caret is the start of the first line
// in sight: scrolling moves it, a screen reader reads the line it lands on, and
// while the view has the focus that line is framed. The Menu key and Shift+F10
// ask for the window's pop-up menu. Its accessible interface (accessible.h)
// serves the text a range at a time.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kaldrome {

class ResultView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    explicit ResultView(QWidget* parent = nullptr);

    // Shows text, whose lines end in CR LF or LF; a line end at the very end
    // starts no further line. The view reads the text where it is: it must
    // stay unchanged until the next SetText or Clear. When the line offsets
    // cannot be allocated it throws std::bad_alloc and goes on showing what it
    // showed before. The view scrolls back to the top.
    void SetText(std::string_view text);
    void Clear();

    std::string_view Text() const { return text_; }
    // Characters of the text, and the range [start, end) of line i from 0,
    // its line end included.
    std::int64_t Length() const { return static_cast<std::int64_t>(text_.size()); }
    std::int64_t LineStart(std::int64_t i) const;
    std::int64_t LineEnd(std::int64_t i) const;
    // The line holding a character (the last line for the end of the text).
    std::int64_t LineOf(std::int64_t offset) const;
    // Lines of the text; 0 for the empty text.
    std::int64_t LineCount() const { return static_cast<std::int64_t>(lineStarts_.size()); }
    // Line i (from 0) without its line end.
    std::string_view Line(std::int64_t i) const;

    // The first line in sight, and how many lines fit the view whole.
    std::int64_t FirstVisibleLine() const;
    int WholeLinesInView() const;
    // Brings line i to the top, as far as the scroll bar goes.
    void ScrollToLine(std::int64_t i);
    // The caret: where the first line in sight starts.
    std::int64_t CaretOffset() const;
    // Where a character is drawn, in the viewport's coordinates, and the
    // character drawn at a point (-1 where there is none).
    QRect CharacterRect(std::int64_t offset) const;
    std::int64_t OffsetAt(const QPoint& point) const;
    // Asks for the pop-up menu below the caret's line, as the Menu key does.
    void RequestPopUpMenu();
    // The lines painted by the last paint, first and one past the last, and how
    // many paints there were.
    std::int64_t LastPaintedFirst() const { return paintedFirst_; }
    std::int64_t LastPaintedEnd() const { return paintedEnd_; }
    int PaintCount() const { return paints_; }

    // Space between the frame and the text, in pixels.
    static constexpr int Margin = 4;

  signals:
    // The Menu key or Shift+F10: the pop-up menu, at a point on the screen.
    void PopUpMenuRequested(const QPoint& globalPos);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    int LineHeight() const;
    void UpdateScrollBars();
    void CaretMoved();

    std::string_view text_;
    std::vector<std::uint32_t> lineStarts_;  // offset of each line in text_
    std::size_t longestLine_ = 0;            // in characters
    std::int64_t paintedFirst_ = 0;
    std::int64_t paintedEnd_ = 0;
    int paints_ = 0;
};

}  // namespace kaldrome

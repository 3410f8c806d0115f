// rtfResp, the result box: a read-only view of a text that paints only the
// lines in sight, straight from the text it is given. The largest result has
// 7.5 million characters in 159,021 lines; the view keeps no copy of them and
// needs nothing but the offset of each line.
//
// It scrolls with its scroll bars, the wheel and, while it has the focus, the
// arrow, page, Home and End keys. It takes no typing and selects nothing.
#pragma once

#include <QAbstractScrollArea>
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
    // Lines of the text; 0 for the empty text.
    std::int64_t LineCount() const { return static_cast<std::int64_t>(lineStarts_.size()); }
    // Line i (from 0) without its line end.
    std::string_view Line(std::int64_t i) const;

    // The first line in sight, and how many lines fit the view whole.
    std::int64_t FirstVisibleLine() const;
    int WholeLinesInView() const;
    // The lines painted by the last paint, first and one past the last, and how
    // many paints there were.
    std::int64_t LastPaintedFirst() const { return paintedFirst_; }
    std::int64_t LastPaintedEnd() const { return paintedEnd_; }
    int PaintCount() const { return paints_; }

    // Space between the frame and the text, in pixels.
    static constexpr int Margin = 4;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    int LineHeight() const;
    void UpdateScrollBars();

    std::string_view text_;
    std::vector<std::uint32_t> lineStarts_;  // offset of each line in text_
    std::size_t longestLine_ = 0;            // in characters
    std::int64_t paintedFirst_ = 0;
    std::int64_t paintedEnd_ = 0;
    int paints_ = 0;
};

}  // namespace kaldrome

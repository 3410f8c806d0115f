// txtN, the number box: a line edit of at most six characters into which a
// paste or a drop goes whole or not at all. Cutting a longer text to six
// characters would run a different number from the one given.
#pragma once

#include <QLineEdit>
#include <functional>

namespace kaldrome {

class NumberBox : public QLineEdit {
    Q_OBJECT
  public:
    // refused runs for every paste or drop that does not fit (the window beeps).
    explicit NumberBox(std::function<void()> refused, QWidget* parent = nullptr);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // True when the box would hold at most maxLength() characters with text
    // added, in place of the selection where replacesSelection.
    bool Fits(const QString& text, bool replacesSelection) const;
    void PasteWhole();

    std::function<void()> refused_;
};

}  // namespace kaldrome

#include "mainwindow/accessible.h"

#include <QAccessibleWidget>
#include <QFrame>
#include <QMetaObject>
#include <algorithm>
#include <mutex>

#include "mainwindow/percent_bar.h"
#include "mainwindow/result_view.h"

namespace kaldrome {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

class AccessibleResultView : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit AccessibleResultView(ResultView* view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}

    ResultView* View() const { return static_cast<ResultView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        // The tool tip says "Alt to Pause" also after a stopped run; what the
        // box is read out as is set apart, by the window.
        if (t == QAccessible::Description) return widget()->accessibleDescription();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }

    void doAction(const QString& name) override {
        if (name != showMenuAction()) return QAccessibleWidget::doAction(name);
        // Not inside the screen reader's call: the menu runs an event loop of its own.
        QMetaObject::invokeMethod(View(), &ResultView::RequestPopUpMenu, Qt::QueuedConnection);
    }

    // -- Text: offsets are the text's own characters, line ends included.

    int characterCount() const override { return static_cast<int>(View()->Length()); }

    QString text(int start, int end) const override {
        const std::string_view all = View()->Text();
        start = std::clamp(start, 0, characterCount());
        end = end < 0 ? characterCount() : std::clamp(end, start, characterCount());
        const std::string_view part = all.substr(std::size_t(start), std::size_t(end - start));
        return QString::fromLatin1(part.data(), static_cast<qsizetype>(part.size()));
    }

    int cursorPosition() const override { return static_cast<int>(View()->CaretOffset()); }

    void setCursorPosition(int position) override {
        if (View()->Length() > 0) View()->ScrollToLine(View()->LineOf(position));
    }

    void scrollToSubstring(int start, int) override { setCursorPosition(start); }

    QRect characterRect(int offset) const override {
        const QRect rect = View()->CharacterRect(offset);
        if (rect.isNull()) return {};
        return QRect(View()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }

    int offsetAtPoint(const QPoint& point) const override {
        return static_cast<int>(View()->OffsetAt(View()->viewport()->mapFromGlobal(point)));
    }

    // The view selects nothing.
    int selectionCount() const override { return 0; }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}

    QString attributes(int offset, int* start, int* end) const override {
        // One run of plain text; no attributes.
        *start = 0;
        *end = characterCount();
        Q_UNUSED(offset);
        return {};
    }

    // The text is cut into pieces that follow one another with no gap: single
    // characters; words (a run of digits, or of blanks and line ends); or
    // lines with their line ends (sentences and paragraphs are lines too).
    // Each query reads around one offset only.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        return Piece(offset, type, start, end);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        const int count = characterCount();
        if (type == QAccessible::NoBoundary || offset <= 0 || count == 0) return Empty(start, end);
        // From the end of the text, the last piece comes before.
        if (offset >= count) return Piece(count - 1, type, start, end);
        int s = 0, e = 0;
        Bounds(offset, type, &s, &e);
        return s == 0 ? Empty(start, end) : Piece(s - 1, type, start, end);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        int s = 0, e = 0;
        if (type == QAccessible::NoBoundary || !Bounds(offset, type, &s, &e))
            return Empty(start, end);
        return Piece(e, type, start, end);
    }

  private:
    static QString Empty(int* start, int* end) {
        *start = *end = -1;
        return {};
    }

    QString Piece(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const {
        if (!Bounds(offset, type, start, end)) return Empty(start, end);
        return text(*start, *end);
    }

    // The piece holding offset; false when there is none.
    bool Bounds(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const {
        const ResultView* view = View();
        const int count = characterCount();
        if (type == QAccessible::NoBoundary) {
            *start = 0;
            *end = count;
            return offset >= 0 && offset <= count;
        }
        if (offset < 0 || offset >= count) return false;
        if (type == QAccessible::CharBoundary) {
            *start = offset;
            *end = offset + 1;
            return true;
        }
        const std::int64_t line = view->LineOf(offset);
        if (type != QAccessible::WordBoundary) {
            *start = static_cast<int>(view->LineStart(line));
            *end = static_cast<int>(view->LineEnd(line));
            return true;
        }
        const std::string_view all = view->Text();
        const bool blank = IsSpace(all[std::size_t(offset)]);
        int s = offset, e = offset + 1;
        while (s > 0 && IsSpace(all[std::size_t(s - 1)]) == blank) --s;
        while (e < count && IsSpace(all[std::size_t(e)]) == blank) ++e;
        *start = s;
        *end = e;
        return true;
    }
};

class AccessiblePercentBar : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit AccessiblePercentBar(PercentBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    PercentBar* Bar() const { return static_cast<PercentBar*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return Bar()->Text();
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return double(Bar()->Percent()); }
    void setCurrentValue(const QVariant&) override {}  // the run sets it
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.01; }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("kaldrome::ResultView"))
        return new AccessibleResultView(static_cast<ResultView*>(object));
    if (className == QLatin1String("kaldrome::PercentBar"))
        return new AccessiblePercentBar(static_cast<PercentBar*>(object));
    if (className == QLatin1String("QFrame")) {
        auto* frame = static_cast<QFrame*>(object);
        if (frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine)
            return new QAccessibleWidget(frame, QAccessible::Separator);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleViews() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(Factory); });
}

}  // namespace kaldrome

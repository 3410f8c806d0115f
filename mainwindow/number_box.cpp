#include "mainwindow/number_box.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

namespace kaldrome {

NumberBox::NumberBox(std::function<void()> refused, QWidget* parent)
    : QLineEdit(parent), refused_(std::move(refused)) {}

bool NumberBox::Fits(const QString& text, bool replacesSelection) const {
    const qsizetype kept = this->text().size() - (replacesSelection ? selectedText().size() : 0);
    return kept + text.size() <= maxLength();
}

void NumberBox::PasteWhole() {
    if (!Fits(QGuiApplication::clipboard()->text(), true)) {
        refused_();
        return;
    }
    paste();
}

void NumberBox::contextMenuEvent(QContextMenuEvent* event) {
    // The box's own menu, with its Paste going through the length check.
    QMenu* menu = createStandardContextMenu();
    const QString pasteCaption = QLineEdit::tr("&Paste");
    for (QAction* item : menu->actions()) {
        if (!item->text().startsWith(pasteCaption)) continue;
        disconnect(item, &QAction::triggered, this, nullptr);
        connect(item, &QAction::triggered, this, &NumberBox::PasteWhole);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void NumberBox::focusOutEvent(QFocusEvent* event) {
    // The menu bar holds the focus only while its keyboard mode lasts (Alt, or
    // a menu closed with Escape). Menus are no place to type, so the box keeps
    // its selection meanwhile, and the next key typed after the menus still
    // replaces a finished run's number, as it does after a menu opened with
    // the mouse (Qt would drop the selection here).
    if (event->reason() == Qt::MenuBarFocusReason && hasSelectedText()) {
        const int start = selectionStart();
        const int length = selectionLength();
        QLineEdit::focusOutEvent(event);
        setSelection(start, length);
        return;
    }
    QLineEdit::focusOutEvent(event);
}

void NumberBox::dropEvent(QDropEvent* event) {
    // A drop from elsewhere goes in at the drop point; the selection stays.
    if (event->source() != this && !Fits(event->mimeData()->text(), false)) {
        event->ignore();
        refused_();
        return;
    }
    QLineEdit::dropEvent(event);
}

void NumberBox::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the selection of the window system, where it has one.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection() &&
        !Fits(clipboard->text(QClipboard::Selection), false)) {
        refused_();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

}  // namespace kaldrome

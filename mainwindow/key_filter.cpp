#include "mainwindow/key_filter.h"

#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QWindow>

#include "mainwindow/form1.h"
#include "mainwindow/result_view.h"

namespace kaldrome {

int KeyAsciiOf(const QKeyEvent* key) {
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return 0;
        default:
            break;
    }
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return 0;
    return text.at(0).unicode();
}

bool IsEditingCombination(const QKeyEvent* key) {
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const int k = key->key();
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier)) return false;  // the menus' keys
    if (modifiers & Qt::ControlModifier) {
        // With Ctrl a character key is a key code of its own (Ctrl+A is 1, Ctrl+V 22,
        // Ctrl+Backspace 127); Ctrl+Insert copies.
        return (k >= Qt::Key_Space && k <= Qt::Key_AsciiTilde) || k == Qt::Key_Backspace ||
               k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Insert;
    }
    // Shift+Insert pastes and Shift+Delete cuts; some keyboards have keys of their own.
    if (modifiers == Qt::ShiftModifier && (k == Qt::Key_Insert || k == Qt::Key_Delete)) return true;
    return k == Qt::Key_Paste || k == Qt::Key_Cut || k == Qt::Key_Copy || k == Qt::Key_Undo ||
           k == Qt::Key_Redo;
}

int ControlCodeOf(const QKeyEvent* key) {
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (modifiers != Qt::ControlModifier) return 0;
    const int k = key->key();
    return k >= Qt::Key_A && k <= Qt::Key_Z ? k - Qt::Key_A + 1 : 0;
}

bool IsAccessKeyCombination(const QKeyEvent* key) {
    if (!(key->modifiers() & (Qt::AltModifier | Qt::MetaModifier))) return false;
    const int k = key->key();
    if ((k >= Qt::Key_Space && k <= Qt::Key_AsciiTilde) || k == Qt::Key_Return ||
        k == Qt::Key_Enter || k == Qt::Key_Backspace)
        return true;
    const QString text = key->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

bool KeyFilter::MenusOwnKeys(const QWidget* target) const {
    const QMenuBar* bar = form_.menuBar();
    return QApplication::activePopupWidget() != nullptr || target == bar ||
           bar->isAncestorOf(target) || bar->hasFocus();
}

bool KeyFilter::TakesBackShortcut(const QKeyEvent* key) const {
    const Form1::Controls& ui = form_.Ui();
    const QKeySequence pressed(key->keyCombination());
    for (const QAction* item :
         {ui.mnuCreateFile, ui.mnuPrintSetup, ui.mnuPrint, ui.mnuCopy, ui.mnuHelp})
        if (item->isEnabled() && item->shortcut() == pressed) return true;
    return false;
}

bool KeyFilter::IsLateAltKey(const QObject* watched, const QEvent* event) const {
    // The window system sends key events to the window itself; the same event
    // sent there again by the program is a late copy. An accessibility bridge
    // holds key presses and releases back until a screen reader has seen them,
    // then delivers such copies, but shortcuts are not held back: by the time
    // the copies of Alt+S arrive, Alt+S has pressed Stop, and the late Alt press
    // and release would be taken for Alt alone (the menu bar's keyboard mode,
    // which holds a run). The menu bar has had the events as they came.
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || event->spontaneous() ||
        watched != form_.windowHandle())
        return false;
    const int k = static_cast<const QKeyEvent*>(event)->key();
    return k == Qt::Key_Alt || k == Qt::Key_Meta;
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (IsLateAltKey(watched, event)) return true;
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride &&
        type != QEvent::InputMethod && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &form_) return false;
    const Form1::Controls& ui = form_.Ui();

    switch (type) {
        case QEvent::KeyPress: {
            if (MenusOwnKeys(widget)) break;
            auto* key = static_cast<QKeyEvent*>(event);
            if (IsAccessKeyCombination(key)) {
                // No access key of the window took it (those never get here).
                form_.bell_.Ring();
                return true;
            }
            if (const int code = ControlCodeOf(key); code == 8 || code == 13) {
                // Ctrl+H is Backspace and Ctrl+M is Enter, here as in every box:
                // the key they stand for goes through the same handlers.
                QKeyEvent plain(QEvent::KeyPress, code == 8 ? Qt::Key_Backspace : Qt::Key_Return,
                                Qt::NoModifier, QString(QChar(code)));
                QCoreApplication::sendEvent(widget, &plain);
                return true;
            }
            if (IsEditingCombination(key)) {
                // An enabled menu command's shortcut never gets here (see ShortcutOverride).
                form_.bell_.Ring();
                return true;
            }
            int keyAscii = KeyAsciiOf(key);
            if (keyAscii == 0) break;  // not a character: navigation, shortcuts
            form_.Form_KeyPress(keyAscii);
            if (keyAscii == 0) return true;
            if (widget == ui.txtN) {
                form_.txtN_KeyPress(keyAscii);
                if (keyAscii == 0) return true;
            }
            break;
        }
        case QEvent::ShortcutOverride: {
            if (MenusOwnKeys(widget)) break;
            auto* key = static_cast<QKeyEvent*>(event);
            if (TakesBackShortcut(key)) {
                event->ignore();  // not claimed: the shortcut goes to the menu command
                return true;
            }
            if (IsEditingCombination(key)) {
                // Claimed, so that no disabled command swallows it: the key press
                // that follows is refused with a beep.
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::InputMethod: {
            // Composed text passes the same filter as typed keys.
            const QString text = static_cast<QInputMethodEvent*>(event)->commitString();
            for (QChar c : text) {
                if (!IsDigitKey(c.unicode())) {
                    form_.bell_.Ring();
                    return true;
                }
            }
            break;
        }
        case QEvent::MouseButtonPress:
            if (watched == ui.rtfResp->viewport()) {
                auto* mouse = static_cast<QMouseEvent*>(event);
                form_.rtfResp_MouseDown(mouse->button(), mouse->globalPosition().toPoint());
                if (mouse->button() == Qt::RightButton) return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == ui.rtfResp->viewport() &&
                static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                form_.rtfResp_Click();
            break;
        default:
            break;
    }
    return false;
}

}  // namespace kaldrome

// The main window's key preview: an application-wide event filter that sees
// every key and result-box click meant for the window's own widgets before
// they do, and hands them to Form1's handlers (Form_KeyPress, txtN_KeyPress,
// rtfResp_MouseDown, rtfResp_Click).
#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

namespace kaldrome {

class Form1;

// The classic key code of a character key: 13 Enter, 8 Backspace, 27 Escape,
// the character's code for a printable one; 0 for keys that are not characters
// (navigation, function keys, Ctrl/Alt combinations).
int KeyAsciiOf(const QKeyEvent* key);

// Ctrl with a character key, and the clipboard and undo keys: combinations that
// would edit a box past the filter. Refused, unless an enabled menu command has
// them as its shortcut.
bool IsEditingCombination(const QKeyEvent* key);

// The key code of Ctrl (or Ctrl+Shift) with a letter: Ctrl+A is 1, Ctrl+H 8,
// Ctrl+M 13, Ctrl+Z 26; 0 for any other key.
int ControlCodeOf(const QKeyEvent* key);

// Alt or the logo key (Super, Meta) with a key that has a key code: the stuff of
// access keys. The window's own access keys are taken as shortcuts before a key
// press is sent; any other such combination would type its character past the
// filter, and is refused.
bool IsAccessKeyCombination(const QKeyEvent* key);

inline bool IsDigitKey(int keyAscii) {
    return keyAscii >= '0' && keyAscii <= '9';
}

class KeyFilter : public QObject {
  public:
    explicit KeyFilter(Form1& form) : form_(form) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // While a menu is open or the menu bar is in keyboard mode, keys drive the
    // menus, and their access letters must arrive untouched.
    bool MenusOwnKeys(const QWidget* target) const;
    // A line edit or text box claims Ctrl+C (and some other Ctrl keys) for
    // itself; while the menu command is enabled, the menu has it.
    bool TakesBackShortcut(const QKeyEvent* key) const;
    // A copy of an Alt or Meta key event delivered late, after the keys that
    // followed it (see the definition).
    bool IsLateAltKey(const QObject* watched, const QEvent* event) const;

    Form1& form_;
};

}  // namespace kaldrome

// The program's one kind of message: a box titled "Kaldrome" with the stop
// icon and a single OK button.
#pragma once

#include <QString>

class QWidget;

namespace kaldrome {

// Title of every message box the program shows.
QString MessageTitle();

// Shows text modally over parent and returns when OK is pressed.
void ShowStopMessage(QWidget* parent, const QString& text);

}  // namespace kaldrome

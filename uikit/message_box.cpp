#include "uikit/message_box.h"

#include <QMessageBox>

namespace kaldrome {

QString MessageTitle() {
    return QStringLiteral("Kaldrome");
}

void ShowStopMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, MessageTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace kaldrome

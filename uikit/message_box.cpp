#include "uikit/message_box.h"

#include <QMessageBox>

#include "uikit/memory_room.h"

namespace kaldrome {

QString MessageTitle() {
    return QStringLiteral("Kaldrome");
}

void ShowStopMessage(QWidget* parent, const QString& text) {
    // The message may be the one that memory ran out: the room held back for
    // it is its own while it shows.
    const RoomForMessage room;
    QMessageBox box(QMessageBox::Critical, MessageTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace kaldrome

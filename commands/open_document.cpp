#include "commands/open_document.h"

#include <QDesktopServices>
#include <QUrl>

namespace kaldrome {

QString ProductsPageAddress() {
    return QStringLiteral("www.orvanesoftware.com/Products.htm");
}

namespace Utilities {

QString OpenDocument(const QString& target) {
    // fromUserInput gives a bare "www.host/page" the http scheme and leaves
    // full URLs and absolute file paths as they are.
    const QString trimmed = target.trimmed();
    const QUrl url = QUrl::fromUserInput(trimmed);
    if (trimmed.isEmpty() || !url.isValid()) {
        return QStringLiteral("not an address: \"%1\"").arg(target);
    }
    const QString shown = url.toString();
    if (!QDesktopServices::openUrl(url)) {
        return QStringLiteral("could not open %1").arg(shown);
    }
    return QStringLiteral("opened %1").arg(shown);
}

}  // namespace Utilities

}  // namespace kaldrome

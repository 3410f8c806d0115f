// Opening a document or web address with the desktop's default application.
#pragma once

#include <QString>

namespace kaldrome {

// The maker's products page, without a scheme; the web command and the About
// window's link picture both open it.
QString ProductsPageAddress();

namespace Utilities {

// Hands target to the desktop: a web address (with or without a scheme) goes
// to the default browser, an absolute path to the application for its type.
// Returns at once with a short text for diagnostics; nothing is ever shown.
QString OpenDocument(const QString& target);

}  // namespace Utilities

}  // namespace kaldrome

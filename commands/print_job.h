// Print: a result document rendered as one PDF with a progress dialog that
// can cancel it, then handed to the print service whole.
//
// Rendering a long result takes seconds (999,999! fills some 1,400 pages); the
// dialog keeps the window painting and lets the user stop. Nothing reaches the
// print service before the last page is rendered, so a cancelled or failed
// printout leaves no half job in the queue.
#pragma once

#include <QByteArray>
#include <QPageLayout>
#include <QString>
#include <functional>
#include <string>

#include "base/outcome.h"
#include "commands/exports.h"

class QWidget;

namespace kaldrome {

// Where a finished printout goes: the whole PDF at once.
using PrintSubmit = std::function<Outcome<void>(const QByteArray& pdf)>;

// How long a printout may take before its progress dialog shows, in milliseconds.
inline constexpr int PrintProgressAfterMs = 500;

// Renders document in layout as a PDF titled title, with the progress dialog
// over parent, then passes it to submit. Cancelled: submit is never called.
Outcome<PrintEnd> PrintWithProgress(QWidget* parent, const QPageLayout& layout,
                                    const QString& title, const std::string& document,
                                    const PrintSubmit& submit);

}  // namespace kaldrome

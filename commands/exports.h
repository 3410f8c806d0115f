// Where a result document goes: the clipboard, a file, a printer.
//
// Each function takes the finished document and reports a failure in plain
// words, so that the window can tell the user and carry on with the result on
// screen untouched.
#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/outcome.h"

class QClipboard;
class QPainter;
class QPrinter;
class QWidget;

namespace kaldrome {

// The bytes of a file: the document in the locale's text encoding, then CR LF; no BOM.
QByteArray FileBytes(const std::string& document);

// A document in pieces, handed on in order without being joined first.
using DocumentPieces = std::initializer_list<std::string_view>;

// Writes FileBytes(document) to path in one write, through a temporary file in
// the same folder that replaces the target only when complete: a failure never
// leaves a half-written file nor harms an existing one.
Outcome<void> WriteDocumentFile(const QString& path, const std::string& document);
// The same, with the document in pieces, one write for each.
Outcome<void> WriteDocumentFile(const QString& path, DocumentPieces document);

// Empties clipboard, then puts the document on it as plain text only.
Outcome<void> PutOnClipboard(QClipboard* clipboard, const std::string& document);
Outcome<void> PutOnClipboard(QClipboard* clipboard, DocumentPieces document);

// How a document is laid out on the printer's pages: one printed line per
// document line, in a fixed-pitch font small enough for a full line of digits.
struct PrintLayout {
    QFont font;
    qreal lineHeight = 0;  // device units
    qreal ascent = 0;      // device units
    qreal pageWidth = 0;   // printable width, device units
    int linesPerPage = 0;
};

// Characters of the widest line the layout must fit (eight groups of nine).
inline constexpr int PrintLineChars = 72;

// The layout for a painter that is active on a printer.
PrintLayout LayoutFor(QPainter& painter);

// Prints the document on printer, page by page as lines come: no layout of the
// whole text is built in memory.
Outcome<void> PrintDocument(QPrinter& printer, const std::string& document);

// Makes printer follow the system's default printer, unless it prints to a
// file or keepChoice names a printer chosen in Print Setup that still exists.
// Returns false when the kept choice was dropped because that printer is gone.
bool FollowDefaultPrinter(QPrinter& printer, bool keepChoice);

// "You don't have any Printer installed!" / "Please install one.": stop icon, OK.
void ShowNoPrinterMessage(QWidget* parent);

// The text of that message for a file that could not be written.
QString FileErrorText(const QString& path, const QString& reason);

namespace Utilities {

// True when the system reports a default printer. Never throws.
bool PrinterInstalled();

}  // namespace Utilities

}  // namespace kaldrome

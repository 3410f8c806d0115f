// Where a result document goes: the clipboard, a file, a printer.
//
// Each function takes the finished document and reports a failure in plain
// words, so that the window can tell the user and carry on with the result on
// screen untouched.
#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

#include "base/outcome.h"

class QClipboard;
class QPagedPaintDevice;
class QPainter;
class QWidget;

namespace kaldrome {

// A document that is handed on piece by piece, as it is made, without being
// held whole: write gives every piece in order to its sink (false from the sink
// stops it, and write then returns false); length is the total of the pieces.
struct DocumentSource {
    std::function<bool(const std::function<bool(std::string_view)>& sink)> write;
    std::size_t length = 0;
};

// Writes the document and one CR LF to path (no BOM; the document's text is
// UTF-8, the local encoding), through a temporary file in the same folder that
// replaces the target only when complete: a failure never leaves a
// half-written file nor harms an existing one. Where the folder allows no new
// file but the file is writable, the file is rewritten in place, once the disk
// has set aside room for all of it. Only a file is written: a folder, device,
// pipe or socket of that name is left alone, and nothing ever waits on a pipe.
// A request to end the program (SIGTERM, SIGINT, SIGHUP) waits until the file
// is done.
Outcome<void> WriteDocumentFile(const QString& path, const std::string& document);
// The same, with the document written piece by piece as the source makes it.
Outcome<void> WriteDocumentFile(const QString& path, const DocumentSource& document);

// Empties clipboard, then puts the document on it as plain text only.
Outcome<void> PutOnClipboard(QClipboard* clipboard, const std::string& document);
Outcome<void> PutOnClipboard(QClipboard* clipboard, const DocumentSource& document);

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

// How a printout ended when nothing failed.
enum class PrintEnd { Printed, Cancelled };

// Told before the first page and after each page: pages done, of pages in all.
// Returns false to stop the printout there.
using PrintProgress = std::function<bool(int done, int pages)>;

// Prints the document on device (a printer or a PDF writer), page by page as
// lines come: no layout of the whole text is built in memory. When memory runs
// out, release (if given) lets go of what the device holds before the document
// is closed, and the printout fails with OutOfMemoryText().
Outcome<PrintEnd> PrintDocument(QPagedPaintDevice& device, const std::string& document,
                                const PrintProgress& progress = {},
                                const std::function<void()>& release = {});

// "You don't have any Printer installed!" / "Please install one.": stop icon, OK.
void ShowNoPrinterMessage(QWidget* parent);

// The message for an export that ran out of memory.
QString OutOfMemoryText();

// The text of that message for a file that could not be written.
QString FileErrorText(const QString& path, const QString& reason);

namespace Utilities {

// True when the system reports a default printer. Never throws. Asks the
// print service, which may not answer: only on PrintService's helper thread.
bool PrinterInstalled();

}  // namespace Utilities

}  // namespace kaldrome

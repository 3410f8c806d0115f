#include "commands/exports.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "uikit/message_box.h"

namespace kaldrome {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("Exports", text);
}

Failure Told(const char* text) {
    return Failure{Tr(text).toStdString()};
}

Failure Reason(const QFileDevice& file) {
    return Failure{file.errorString().toStdString()};
}

constexpr std::string_view LineEnd = "\r\n";

// Largest and smallest point sizes tried for the printout.
constexpr qreal PrintPointSize = 10.0;
constexpr qreal SmallestPointSize = 4.0;

QFont FixedPitchFont(qreal pointSize) {
    QFont font(QStringLiteral("Liberation Mono"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    return font;
}

}  // namespace

QByteArray FileBytes(const std::string& document) {
    // The document is UTF-8, and so is the locale's 8-bit encoding wherever Qt 6
    // runs on Unix: its own bytes, without a UTF-16 copy of twice the size.
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(document.size() + LineEnd.size()));
    bytes.append(document.data(), static_cast<qsizetype>(document.size()));
    bytes.append(LineEnd.data(), static_cast<qsizetype>(LineEnd.size()));
    return bytes;
}

Outcome<void> WriteDocumentFile(const QString& path, const std::string& document) {
    return WriteDocumentFile(path, {document});
}

Outcome<void> WriteDocumentFile(const QString& path, DocumentPieces document) {
    QSaveFile file(path);
    // Unbuffered: a short write shows here, not in a flush inside commit(),
    // whose failure Qt 6.4 does not report (the short file would replace the target).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return Reason(file);
    // One write of each piece; the loop only resumes after a short write, so that
    // the second attempt reports the reason (disk full, file too large).
    auto writeAll = [&file](std::string_view bytes) {
        const auto size = static_cast<qint64>(bytes.size());
        qint64 written = 0;
        while (written < size) {
            const qint64 n = file.write(bytes.data() + written, size - written);
            if (n <= 0) return false;
            written += n;
        }
        return true;
    };
    // The bytes of FileBytes(document), straight from the pieces.
    bool complete = true;
    for (const std::string_view piece : document) complete = complete && writeAll(piece);
    if (!complete || !writeAll(LineEnd)) {
        Failure reason = Reason(file);
        file.cancelWriting();  // the temporary file goes with the QSaveFile
        return reason;
    }
    // commit() flushes, closes and renames; the temporary file is removed on failure.
    if (!file.commit()) return Reason(file);
    return {};
}

Outcome<void> PutOnClipboard(QClipboard* clipboard, const std::string& document) {
    return PutOnClipboard(clipboard, {document});
}

Outcome<void> PutOnClipboard(QClipboard* clipboard, DocumentPieces document) {
    if (clipboard == nullptr) return Told("No clipboard is available.");
    // The document's own bytes (UTF-8, as Qt reads text/plain), not a UTF-16
    // copy of twice the size.
    qsizetype size = 0;
    for (const std::string_view piece : document) size += static_cast<qsizetype>(piece.size());
    QByteArray bytes;
    bytes.reserve(size);
    for (const std::string_view piece : document)
        bytes.append(piece.data(), static_cast<qsizetype>(piece.size()));
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), bytes);
    clipboard->setMimeData(data);
    // Another program may hold the clipboard; then what we read back is not ours.
    const QMimeData* held = clipboard->mimeData();
    if (held == nullptr || held->data(QStringLiteral("text/plain")) != bytes)
        return Told("The clipboard did not accept the result.");
    return {};
}

PrintLayout LayoutFor(QPainter& painter) {
    QPaintDevice* device = painter.device();
    PrintLayout layout;
    layout.pageWidth = device->width();
    const qreal pageHeight = device->height();

    // Shrink the font until a full line of digits fits the printable width.
    qreal size = PrintPointSize;
    layout.font = FixedPitchFont(size);
    for (;;) {
        const QFontMetricsF metrics(layout.font, device);
        const qreal width = metrics.horizontalAdvance(QString(PrintLineChars, QLatin1Char('0')));
        if (width <= layout.pageWidth || size <= SmallestPointSize) {
            layout.lineHeight = metrics.lineSpacing();
            layout.ascent = metrics.ascent();
            break;
        }
        size = std::max(SmallestPointSize, std::floor(size * layout.pageWidth / width * 4) / 4);
        if (size >= layout.font.pointSizeF()) size = layout.font.pointSizeF() - 0.25;
        layout.font = FixedPitchFont(size);
    }
    layout.linesPerPage = std::max(1, static_cast<int>(std::floor(pageHeight / layout.lineHeight)));
    return layout;
}

Outcome<void> PrintDocument(QPrinter& printer, const std::string& document) {
    QPainter painter;
    if (!painter.begin(&printer)) return Told("The printer could not start the document.");
    const PrintLayout layout = LayoutFor(painter);
    painter.setFont(layout.font);
    painter.setPen(Qt::black);

    bool pagesOk = true;
    int lineOnPage = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = document.find(LineEnd, start);
        const std::string_view line = std::string_view(document).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        if (lineOnPage == layout.linesPerPage) {
            if (!printer.newPage()) {
                pagesOk = false;
                break;
            }
            lineOnPage = 0;
        }
        if (!line.empty()) {
            const QPointF baseline(0, layout.ascent + lineOnPage * layout.lineHeight);
            painter.drawText(baseline,
                             QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        }
        ++lineOnPage;
        if (end == std::string::npos) break;
        start = end + LineEnd.size();
    }
    const bool ended = painter.end();
    if (!pagesOk || !ended || printer.printerState() == QPrinter::Error)
        return Told("The printer did not accept the document.");
    return {};
}

bool FollowDefaultPrinter(QPrinter& printer, bool keepChoice) {
    // Printing to a file was chosen on purpose; leave it alone.
    if (printer.outputFormat() != QPrinter::NativeFormat) return keepChoice;
    if (keepChoice && !QPrinterInfo::printerInfo(printer.printerName()).isNull()) return true;
    const QPrinterInfo standard = QPrinterInfo::defaultPrinter();
    if (!standard.isNull() && printer.printerName() != standard.printerName())
        printer.setPrinterName(standard.printerName());
    return false;
}

void ShowNoPrinterMessage(QWidget* parent) {
    ShowStopMessage(parent,
                    QStringLiteral("You don't have any Printer installed!\nPlease install one."));
}

QString FileErrorText(const QString& path, const QString& reason) {
    return Tr("The file %1 could not be written.\n%2").arg(QDir::toNativeSeparators(path), reason);
}

namespace Utilities {

bool PrinterInstalled() {
    try {
        return !QPrinterInfo::defaultPrinter().isNull();
    } catch (...) {
        return false;
    }
}

}  // namespace Utilities

}  // namespace kaldrome

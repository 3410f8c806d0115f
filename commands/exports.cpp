#include "commands/exports.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

#include "commands/exports_shared.h"
#include "uikit/message_box.h"

namespace kaldrome {

namespace {

// Tr, Told, LineEnd and Whole.
using namespace exports_shared;

// What a printout keeps back for closing its document when memory runs out:
// Qt's PDF writer takes some 16 MB for a moment whenever it closes a page.
// Address space only; the pages are never touched.
constexpr std::size_t PrintReserveBytes = std::size_t{32} << 20;

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

Outcome<void> PutOnClipboard(QClipboard* clipboard, const std::string& document) {
    return PutOnClipboard(clipboard, Whole(document));
}

Outcome<void> PutOnClipboard(QClipboard* clipboard, const DocumentSource& document) {
    if (clipboard == nullptr) return Told("No clipboard is available.");
    try {
        // The document's own bytes (UTF-8, as Qt reads text/plain), not a UTF-16
        // copy of twice the size. Made before the clipboard is touched: a text that
        // does not fit in memory leaves the clipboard as it was.
        QByteArray bytes;
        bytes.reserve(static_cast<qsizetype>(document.length));
        document.write([&bytes](std::string_view piece) {
            bytes.append(piece.data(), static_cast<qsizetype>(piece.size()));
            return true;
        });
        auto data = std::make_unique<QMimeData>();
        data->setData(QStringLiteral("text/plain"), bytes);
        clipboard->setMimeData(data.release());
        // Another program may hold the clipboard; then what we read back is not ours.
        const QMimeData* held = clipboard->mimeData();
        if (held == nullptr || held->data(QStringLiteral("text/plain")) != bytes)
            return Told("The clipboard did not accept the result.");
        return {};
    } catch (const std::bad_alloc&) {
        return Failure{OutOfMemoryText().toStdString()};
    }
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

Outcome<PrintEnd> PrintDocument(QPagedPaintDevice& device, const std::string& document,
                                const PrintProgress& progress,
                                const std::function<void()>& release) try {
    // Memory kept back while pages are drawn: when an allocation fails, this
    // goes first, so that the painter can still close the document (ending it
    // allocates too, and a second failure there would end the program).
    auto reserve = std::make_unique_for_overwrite<char[]>(PrintReserveBytes);
    QPainter painter;
    if (!painter.begin(&device)) return Told("The printer could not start the document.");
    const PrintLayout layout = LayoutFor(painter);
    painter.setFont(layout.font);
    painter.setPen(Qt::black);

    const auto lines = std::count(document.begin(), document.end(), '\n') + 1;
    const int pages = static_cast<int>((lines + layout.linesPerPage - 1) / layout.linesPerPage);
    bool pagesOk = true;
    bool outOfMemory = false;
    bool stopped = progress && !progress(0, pages);
    int page = 0;
    int lineOnPage = 0;
    std::size_t start = 0;
    try {
        while (!stopped) {
            const std::size_t end = document.find(LineEnd, start);
            const std::string_view line = std::string_view(document).substr(
                start, end == std::string::npos ? std::string::npos : end - start);
            if (lineOnPage == layout.linesPerPage) {
                stopped = progress && !progress(++page, pages);
                if (stopped) break;
                if (!device.newPage()) {
                    pagesOk = false;
                    break;
                }
                lineOnPage = 0;
            }
            if (!line.empty()) {
                const QPointF baseline(0, layout.ascent + lineOnPage * layout.lineHeight);
                painter.drawText(
                    baseline, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
            }
            ++lineOnPage;
            if (end == std::string::npos) break;
            start = end + LineEnd.size();
        }
    } catch (const std::bad_alloc&) {
        reserve.reset();
        if (release) release();
        outOfMemory = true;
    }
    const bool ended = painter.end();
    if (outOfMemory) return Failure{OutOfMemoryText().toStdString()};
    if (stopped) return PrintEnd::Cancelled;
    const auto* printer = dynamic_cast<const QPrinter*>(&device);
    if (!pagesOk || !ended || (printer != nullptr && printer->printerState() == QPrinter::Error))
        return Told("The printer did not accept the document.");
    if (progress) progress(pages, pages);
    return PrintEnd::Printed;
} catch (const std::bad_alloc&) {
    return Failure{OutOfMemoryText().toStdString()};
}

void ShowNoPrinterMessage(QWidget* parent) {
    ShowStopMessage(parent,
                    QStringLiteral("You don't have any Printer installed!\nPlease install one."));
}

QString OutOfMemoryText() {
    return Tr(
        "There is not enough memory to export the result.\n"
        "The result stays on screen; closing other programs may help.");
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

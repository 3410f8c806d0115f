#include "commands/print_job.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPdfWriter>
#include <QProgressDialog>
#include <new>

namespace kaldrome {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("PrintJob", text);
}

// The printout in memory. An exception thrown through Qt's PDF writer would
// leave it half-way through a page, so a failed allocation becomes a failed
// write here, and is remembered.
class PrintoutBuffer : public QBuffer {
  public:
    PrintoutBuffer() { open(QIODevice::WriteOnly); }
    bool OutOfMemory() const { return outOfMemory_; }
    // The printout is lost: what it held goes back at once, so that the
    // painter can finish without running short itself.
    void Release() {
        outOfMemory_ = true;
        buffer().clear();
        buffer().squeeze();
    }

  protected:
    qint64 writeData(const char* data, qint64 size) override {
        if (outOfMemory_) return -1;
        try {
            return QBuffer::writeData(data, size);
        } catch (const std::bad_alloc&) {
            Release();
            return -1;
        }
    }

  private:
    bool outOfMemory_ = false;
};

// The resolution of the printout: the printer's usual high resolution.
constexpr int PrintDpi = 1200;

// Repaints are let through this often while the dialog is not yet shown.
constexpr qint64 PaintEveryMs = 30;

}  // namespace

Outcome<PrintEnd> PrintWithProgress(QWidget* parent, const QPageLayout& layout,
                                    const QString& title, const std::string& document,
                                    const PrintSubmit& submit) try {
    QProgressDialog progress(parent);
    progress.setWindowTitle(Tr("Printing"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(PrintProgressAfterMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setCancelButtonText(Tr("Cancel"));
    progress.setLabelText(Tr("Printing %1...").arg(title));

    PrintoutBuffer printout;
    QElapsedTimer sincePaint;
    sincePaint.start();
    Outcome<PrintEnd> rendered = PrintEnd::Cancelled;
    {
        QPdfWriter pdf(&printout);
        pdf.setResolution(PrintDpi);
        pdf.setPageLayout(layout);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("Kaldrome"));
        rendered = PrintDocument(
            pdf, document,
            [&](int done, int pages) {
                if (progress.maximum() != pages) progress.setRange(0, pages);
                progress.setLabelText(
                    Tr("Printing %1: page %2 of %3").arg(title).arg(done).arg(pages));
                // Once shown, the (modal) dialog processes events itself; before that
                // the window still repaints, but takes no input that could start
                // anything while the printout is under way.
                progress.setValue(done);
                if (!progress.isVisible() && sincePaint.elapsed() >= PaintEveryMs) {
                    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                    sincePaint.restart();
                }
                return !progress.wasCanceled();
            },
            [&] { printout.Release(); });
    }
    if (!rendered.Ok() || rendered.Value() == PrintEnd::Cancelled) return rendered;
    if (printout.OutOfMemory()) return Failure{OutOfMemoryText().toStdString()};

    // The last step cannot be stopped halfway: no Cancel while the job is sent.
    progress.setCancelButton(nullptr);
    progress.setLabelText(Tr("Sending %1 to the printer...").arg(title));
    const Outcome<void> sent = submit(printout.data());
    if (!sent.Ok()) return sent.Error();
    return PrintEnd::Printed;
} catch (const std::bad_alloc&) {
    return Failure{OutOfMemoryText().toStdString()};
}

}  // namespace kaldrome

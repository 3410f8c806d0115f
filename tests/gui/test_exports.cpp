// Exports: the file bytes, the clipboard text and the printout of a result
// document; the save and printer dialogs behind dlgDialogo; the messages for
// a missing printer and for failed exports.
//
// Every dialog the code opens is driven by guitest's DialogDriver, whose
// deadline fails the test and closes the dialog rather than let it hang the run.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include "commands/common_dialog.h"

#include "base/number_format.h"
#include "commands/exports.h"
#include "engine/factorial_engine.h"
#include "gui/guitest.h"
#include "mainwindow/form1.h"
#include "resulttext/result_document.h"
#include "resulttext/result_text.h"

using kaldrome::Form1;

using kaldrome::CommonDialog;

namespace {

// ---------------------------------------------------------------------------
// Steps for the dialog driver.

using guitest::DialogDriver;

template <typename T>
T* Expect(QWidget* w, QStringList& failures, const char* what) {
    auto* typed = qobject_cast<T*>(w);
    if (typed == nullptr) {
        failures << QStringLiteral("expected %1, got %2 \"%3\"")
                        .arg(QLatin1String(what), QLatin1String(w->metaObject()->className()),
                             w->windowTitle());
        if (auto* d = qobject_cast<QDialog*>(w))
            QMetaObject::invokeMethod(d, &QDialog::reject, Qt::QueuedConnection);
    }
    return typed;
}

void Check(QStringList& failures, bool ok, const QString& what) {
    if (!ok) failures << what;
}

// Types path into a save dialog and presses Save.
DialogDriver::Step TypeAndSave(const QString& path) {
    return [path](QWidget* w, QStringList& failures) {
        auto* dialog = Expect<QFileDialog>(w, failures, "file dialog");
        if (dialog == nullptr) return;
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        Check(failures, edit != nullptr, QStringLiteral("no file name box"));
        if (edit != nullptr) edit->setText(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    };
}

DialogDriver::Step CancelFileDialog() {
    return [](QWidget* w, QStringList& failures) {
        if (auto* dialog = Expect<QFileDialog>(w, failures, "file dialog"))
            QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
    };
}

// Checks a message box and presses button.
DialogDriver::Step AnswerBox(std::function<void(QMessageBox*, QStringList&)> check,
                             QMessageBox::StandardButton button) {
    return [check, button](QWidget* w, QStringList& failures) {
        auto* box = Expect<QMessageBox>(w, failures, "message box");
        if (box == nullptr) return;
        check(box, failures);
        QAbstractButton* b = box->button(button);
        Check(failures, b != nullptr, QStringLiteral("message box has no such button"));
        if (b != nullptr)
            QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(box, &QDialog::reject, Qt::QueuedConnection);
    };
}

// ---------------------------------------------------------------------------
// Documents and files.

// The default separators, or those with another thousands separator.
kaldrome::NumberSeparators GroupedWith(const QString& group) {
    kaldrome::NumberSeparators separators;
    if (!group.isNull()) separators.group = group.toStdString();
    return separators;
}

std::string DocumentFor(int32_t n, const kaldrome::NumberSeparators& separators = {}) {
    kaldrome::RunState rs = guitest::Computed(n);
    if (!rs.PlainTextReady) kaldrome::BuildPlainText(rs);
    return kaldrome::ComposeResultDocument(rs, separators);
}

using guitest::Entries;
using guitest::ReadBytes;
using guitest::WriteBytes;

// Lowers the file size limit for its duration: writes past it fail with
// "File too large", as on a full disk, even for root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    sighandler_t previous_;
};

// ---------------------------------------------------------------------------
// Printouts.

// Text lines of a PDF, pages split at form feeds; runs of spaces collapsed,
// since a printout keeps the positions of the digits, not the space characters.
QList<QStringList> PdfPages(const QString& pdf, QString* error) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        *error =
            QStringLiteral("pdftotext failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    QList<QStringList> pages;
    for (const QString& page : text.split(QLatin1Char('\f'))) {
        QStringList lines = page.split(QLatin1Char('\n'));
        for (QString& line : lines) line = line.simplified();
        while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        pages << lines;
    }
    while (!pages.isEmpty() && pages.last().isEmpty()) pages.removeLast();
    return pages;
}

QStringList DocumentLines(const std::string& document) {
    QStringList lines = QString::fromStdString(document).split(QStringLiteral("\r\n"));
    for (QString& line : lines) line = line.simplified();
    return lines;
}

void UsePdf(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
}

// Types n into the number box and presses Enter, as a user does; true when the
// run finished with the result commands enabled.
bool RunWindow(Form1& w, int n) {
    guitest::EnterNumber(w, QString::number(n));
    return QTest::qWaitFor([&] { return !w.Running(); }, 60000) && w.Ui().mnuCopy->isEnabled() &&
           w.Ui().mnuCreateFile->isEnabled() && w.Ui().mnuPrint->isEnabled();
}

// The examples of the documents, with "·" for a space and "⏎" for CR LF.
QString Doc(const char* example) {
    return QString::fromUtf8(example)
        .replace(QChar(0x00B7), QLatin1Char(' '))
        .replace(QChar(0x23CE), QStringLiteral("\r\n"));
}

// The window's settings for the save dialog, as the dialog shows them.
void CheckSaveSettings(QWidget* w, QStringList& f, const QString& proposed, bool confirm = true) {
    auto* fd = qobject_cast<QFileDialog*>(w);
    if (fd == nullptr) return;
    Check(f, fd->windowTitle() == QStringLiteral("Specify File Name to Create"),
          "title " + fd->windowTitle());
    Check(f, fd->acceptMode() == QFileDialog::AcceptSave, "save mode");
    Check(f, fd->testOption(QFileDialog::DontConfirmOverwrite) != confirm,
          "overwrite question as the flags say");
    Check(f, fd->testOption(QFileDialog::DontUseNativeDialog), "Qt's own dialog");
    Check(f, fd->defaultSuffix().isEmpty(), "no default suffix");
    Check(f,
          fd->nameFilters() == QStringList{QStringLiteral("Word Document (*.doc)"),
                                           QStringLiteral("Text (*.txt)"),
                                           QStringLiteral("Rich Text Format (*.rtf)")},
          "filters " + fd->nameFilters().join('|'));
    Check(f, fd->selectedNameFilter() == QStringLiteral("Rich Text Format (*.rtf)"),
          "third filter selected");
    auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    Check(f, edit != nullptr && edit->text() == proposed,
          "proposed name " + (edit ? edit->text() : QString()));
}

const QString NoPrinterText =
    QStringLiteral("You don't have any Printer installed!\nPlease install one.");

}  // namespace

class ExportsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();

    void fileBytes_data();
    void fileBytes();
    void fileWriteFailure_data();
    void fileWriteFailure();

    void clipboardPlainTextOnly();
    void clipboardMissing();

    void nameFilters_data();
    void nameFilters();
    void saveDialog_data();
    void saveDialog();
    void printerDialog_data();
    void printerDialog();

    void printLayout_data();
    void printLayout();
    void printToPdf_data();
    void printToPdf();
    void printFailure();
    void followDefaultPrinter_data();
    void followDefaultPrinter();

    void windowCopy_data();
    void windowCopy();
    void windowCommandsWithoutResult_data();
    void windowCommandsWithoutResult();
    void windowSaveSettings_data();
    void windowSaveSettings();
    void windowCreateFile_data();
    void windowCreateFile();
    void windowCreateFileFailure_data();
    void windowCreateFileFailure();
    void windowNoPrinter_data();
    void windowNoPrinter();

  private:
    QTemporaryDir tmp_;
};

void ExportsTest::initTestCase() {
    QVERIFY(tmp_.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
             "pdftotext (poppler-utils) is needed to read printouts back");
}

// --- Create File: the bytes written --------------------------------------------

void ExportsTest::fileBytes_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("group");      // thousands separator; null: keep
    QTest::addColumn<QByteArray>("before");  // existing file content; null: no file
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ten("10!=\r\n  3628800\r\nNumber of digits: 7\r\n");
    QTest::newRow("0! one group, new file")
        << 0 << QString() << QByteArray()
        << QByteArray("0!=\r\n  0000001\r\nNumber of digits: 1\r\n");
    QTest::newRow("shorter existing file replaced") << 10 << QString() << QByteArray("old") << ten;
    QTest::newRow("1000! comma separator")
        << 1000 << QStringLiteral(",") << QByteArray() << QByteArray();
    QTest::newRow("1000! no-break space separator in the locale encoding")
        << 1000 << QStringLiteral("\u00A0") << QByteArray() << QByteArray();
}

void ExportsTest::fileBytes() {
    QFETCH(int, n);
    QFETCH(QString, group);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kaldrome%1").arg(n));
    if (!before.isNull()) QVERIFY(WriteBytes(path, before));

    const std::string document = DocumentFor(n, GroupedWith(group));
    QCOMPARE(guitest::FailureOf(kaldrome::WriteDocumentFile(path, document)), QString());
    const QByteArray bytes = ReadBytes(path);

    if (!expected.isNull()) QCOMPARE(bytes, expected);
    if (!group.isNull()) {
        // The footer carries 2,568 with the locale's separator, encoded as the locale encodes text.
        const QByteArray footer =
            (QStringLiteral("\r\nNumber of digits: 2") + group + QStringLiteral("568\r\n"))
                .toLocal8Bit();
        QVERIFY2(bytes.endsWith(footer), bytes.right(40).constData());
        QVERIFY(bytes.startsWith("1000!=\r\n  0402387  2600770"));
    }
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.endsWith("\r\n"));
    QVERIFY(!bytes.endsWith("\r\n\r\n"));
    QCOMPARE(bytes.size(), kaldrome::FileBytes(document).size());
    // Nothing but the target is left in the folder.
    QCOMPARE(Entries(dir.path()), QStringList{QFileInfo(path).fileName()});

    // Writing the same result again gives the same bytes.
    QCOMPARE(guitest::FailureOf(kaldrome::WriteDocumentFile(path, document)), QString());
    QCOMPARE(ReadBytes(path), bytes);
}

void ExportsTest::fileWriteFailure_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("parent is a regular file") << "notdir";
    QTest::newRow("target is a folder") << "isdir";
    QTest::newRow("folder where no file can be created") << "proc";
    QTest::newRow("disk full keeps the existing file intact") << "full";
    if (geteuid() != 0)
        QTest::newRow("read-only folder keeps the existing file intact") << "readonly";
}

void ExportsTest::fileWriteFailure() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QByteArray old("previous contents that must survive\r\n");
    QString path;
    QString watched;  // a folder whose entries must not change
    if (kind == "missing") {
        path = dir.filePath(QStringLiteral("no/such/folder/Kaldrome10"));
    } else if (kind == "notdir") {
        QVERIFY(WriteBytes(dir.filePath(QStringLiteral("plain")), old));
        path = dir.filePath(QStringLiteral("plain/Kaldrome10"));
    } else if (kind == "isdir") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Kaldrome10")));
        path = dir.filePath(QStringLiteral("Kaldrome10"));
    } else if (kind == "proc") {
        path = QStringLiteral("/proc/Kaldrome10");
    } else if (kind == "full" || kind == "readonly") {
        path = dir.filePath(QStringLiteral("Kaldrome1000.txt"));
        QVERIFY(WriteBytes(path, old));
    }
    if (kind != "proc") watched = dir.path();
    const QStringList entriesBefore = watched.isEmpty() ? QStringList() : Entries(watched);

    const std::string document = DocumentFor(1000);  // some 3 KB
    QString reason;
    if (kind == "full") {
        FileSizeLimit limit(16);
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
    } else if (kind == "readonly") {
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
        QFile::setPermissions(
            dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    } else {
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
    }

    QVERIFY2(!reason.isEmpty(), "a failed write must be reported");
    if (kind == "full" || kind == "readonly" || kind == "notdir")
        QCOMPARE(ReadBytes(kind == "notdir" ? dir.filePath(QStringLiteral("plain")) : path), old);
    if (kind == "isdir") QVERIFY(QFileInfo(path).isDir());
    if (kind == "missing") QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("no"))));
    if (!watched.isEmpty()) QCOMPARE(Entries(watched), entriesBefore);  // no temporary file left

    // The message names the file and the reason.
    const QString text = kaldrome::FileErrorText(path, reason);
    QVERIFY(text.contains(QDir::toNativeSeparators(path)));
    QVERIFY(text.contains(reason));
}

// --- Copy to Clipboard -----------------------------------------------------

void ExportsTest::clipboardPlainTextOnly() {
    QClipboard* cb = QGuiApplication::clipboard();
    // Something richer on the clipboard before: all of it must go.
    auto* rich = new QMimeData;
    rich->setHtml(QStringLiteral("<b>old</b>"));
    rich->setText(QStringLiteral("old"));
    cb->setMimeData(rich);
    const std::string document = DocumentFor(1000);
    QCOMPARE(guitest::FailureOf(kaldrome::PutOnClipboard(cb, document)), QString());
    QCOMPARE(cb->text(), QString::fromStdString(document));
    QVERIFY(!cb->mimeData()->hasHtml());
    QCOMPARE(cb->mimeData()->formats(), QStringList{QStringLiteral("text/plain")});
}

void ExportsTest::clipboardMissing() {
    QVERIFY(!guitest::FailureOf(kaldrome::PutOnClipboard(nullptr, DocumentFor(10))).isEmpty());
}

// --- dlgDialogo as save dialog --------------------------------------------------

void ExportsTest::nameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the three file types")
        << QStringLiteral(
               "Word Document (*.doc)|*.doc|Text (*.txt)|*.txt|Rich Text Format (*.rtf)|*.rtf")
        << QStringList{QStringLiteral("Word Document (*.doc)"), QStringLiteral("Text (*.txt)"),
                       QStringLiteral("Rich Text Format (*.rtf)")};
    QTest::newRow("description without pattern gets it")
        << QStringLiteral("Text|*.txt;*.text")
        << QStringList{QStringLiteral("Text (*.txt *.text)")};
    QTest::newRow("empty text, no filters") << QString() << QStringList{};
    QTest::newRow("trailing bar ignored")
        << QStringLiteral("All (*)|*|") << QStringList{QStringLiteral("All (*)")};
}

void ExportsTest::nameFilters() {
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(CommonDialog::NameFilters(filter), expected);
}

void ExportsTest::saveDialog_data() {
    QTest::addColumn<QString>("typed");  // name typed into the dialog; empty: cancel
    QTest::addColumn<bool>("cancelError");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("existing");  // the typed file exists
    QTest::addColumn<int>("overwrite");  // answer to the overwrite question; 0: none asked
    QTest::addColumn<bool>("expectResult");
    QTest::addColumn<QString>("expectName");  // "<typed>": the full typed path

    const int save = CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly;
    QTest::newRow("chosen name becomes the full path")
        << "Kaldrome10.txt" << true << save << false << 0 << true << "<typed>";
    QTest::newRow("name without extension kept under the rtf filter")
        << "Kaldrome10" << true << save << false << 0 << true << "<typed>";
    QTest::newRow("cancel is a failure with CancelError")
        << "" << true << save << false << 0 << false << "Kaldrome10";
    QTest::newRow("cancel without CancelError empties the name")
        << "" << false << save << false << 0 << true << "";
    QTest::newRow("existing file asks, Yes takes it")
        << "old.rtf" << true << save << true << int(QMessageBox::Yes) << true << "<typed>";
    QTest::newRow("existing file asks, No keeps the dialog open")
        << "old.rtf" << true << save << true << int(QMessageBox::No) << false << "Kaldrome10";
    QTest::newRow("without the overwrite flag no question")
        << "old.rtf" << true << CommonDialog::HideReadOnly << true << 0 << true << "<typed>";
}

void ExportsTest::saveDialog() {
    QFETCH(QString, typed);
    QFETCH(bool, cancelError);
    QFETCH(int, flags);
    QFETCH(bool, existing);
    QFETCH(int, overwrite);
    QFETCH(bool, expectResult);
    QFETCH(QString, expectName);

    QTemporaryDir dir;
    const QString typedPath = typed.isEmpty() ? QString() : dir.filePath(typed);
    if (existing) QVERIFY(WriteBytes(typedPath, "old"));

    QWidget owner;
    CommonDialog dlg(&owner);
    // What an earlier Print Setup may have left behind must not matter.
    dlg.Flags = CommonDialog::PrintSetupForm;
    dlg.DialogTitle = QStringLiteral("Specify File Name to Create");
    dlg.FileName = QStringLiteral("Kaldrome10");
    dlg.Flags = flags;
    dlg.Filter = QStringLiteral(
        "Word Document (*.doc)|*.doc|Text (*.txt)|*.txt|Rich Text Format (*.rtf)|*.rtf");
    dlg.FilterIndex = 3;
    dlg.CancelError = cancelError;

    DialogDriver driver;
    const bool confirm = flags & CommonDialog::OverwritePrompt;
    const auto checkSettings = [confirm](QWidget* w, QStringList& f) {
        CheckSaveSettings(w, f, QStringLiteral("Kaldrome10"), confirm);
    };
    if (typed.isEmpty()) {
        driver.Then([&](QWidget* w, QStringList& f) {
            checkSettings(w, f);
            CancelFileDialog()(w, f);
        });
    } else {
        driver.Then([&](QWidget* w, QStringList& f) {
            checkSettings(w, f);
            TypeAndSave(typedPath)(w, f);
        });
        if (overwrite != 0) {
            driver.Then(AnswerBox(
                [&](QMessageBox* box, QStringList& f) {
                    Check(f, box->text().contains(QFileInfo(typedPath).fileName()),
                          "question names the file");
                },
                QMessageBox::StandardButton(overwrite)));
            if (overwrite == QMessageBox::No) driver.Then(CancelFileDialog());
        }
    }
    const bool result = dlg.ShowSave();
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(result, expectResult);
    QCOMPARE(dlg.FileName, expectName == QStringLiteral("<typed>") ? typedPath : expectName);
    // The dialog writes nothing itself.
    if (existing) QCOMPARE(ReadBytes(typedPath), QByteArray("old"));
    if (!existing && !typedPath.isEmpty()) QVERIFY(!QFileInfo::exists(typedPath));
}

// --- dlgDialogo as printer dialog ------------------------------------------

void ExportsTest::printerDialog_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("title");
    QTest::newRow("setup form, cancelled")
        << CommonDialog::PrintSetupForm << false << "Print Setup";
    QTest::newRow("setup form, accepted") << CommonDialog::PrintSetupForm << true << "Print Setup";
    QTest::newRow("print form, cancelled") << 0 << false << "Print";
}

void ExportsTest::printerDialog() {
    QFETCH(int, flags);
    QFETCH(bool, accept);
    QFETCH(QString, title);

    QWidget owner;
    CommonDialog dlg(&owner);
    dlg.Flags = flags;
    QPrinter printer(QPrinter::HighResolution);
    const QString pdf = tmp_.filePath(QStringLiteral("setup.pdf"));
    UsePdf(printer, pdf);
    printer.setPageOrientation(QPageLayout::Portrait);

    DialogDriver driver;
    driver.Then([&](QWidget* w, QStringList& f) {
        auto* pd = Expect<QPrintDialog>(w, f, "print dialog");
        if (pd == nullptr) return;
        Check(f, pd->windowTitle() == title, "title " + pd->windowTitle());
        if (flags & CommonDialog::PrintSetupForm) {
            Check(f, pd->options() == QAbstractPrintDialog::PrintShowPageSize,
                  "setup form offers printer and paper");
            auto* buttons = pd->findChild<QDialogButtonBox*>();
            QPushButton* ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
            Check(f, ok != nullptr && ok->text() == QStringLiteral("OK"),
                  "setup form confirms with OK");
        }
        if (accept)
            QMetaObject::invokeMethod(pd, &QDialog::accept, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(pd, &QDialog::reject, Qt::QueuedConnection);
    });
    const bool result = dlg.ShowPrinter(printer);
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(result, accept);
    // The dialog prints nothing.
    QVERIFY(!QFileInfo::exists(pdf));
}

// --- Print ------------------------------------------------------------------

void ExportsTest::printLayout_data() {
    QTest::addColumn<int>("pageId");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("fits");
    QTest::newRow("A4 portrait") << int(QPageSize::A4) << int(QPageLayout::Portrait) << true;
    QTest::newRow("Letter portrait")
        << int(QPageSize::Letter) << int(QPageLayout::Portrait) << true;
    QTest::newRow("A4 landscape") << int(QPageSize::A4) << int(QPageLayout::Landscape) << true;
    QTest::newRow("A6 portrait needs a smaller font")
        << int(QPageSize::A6) << int(QPageLayout::Portrait) << true;
    QTest::newRow("A7 portrait needs a smaller font")
        << int(QPageSize::A7) << int(QPageLayout::Portrait) << true;
    QTest::newRow("A10: smallest font, no endless shrinking")
        << int(QPageSize::A10) << int(QPageLayout::Portrait) << false;
}

void ExportsTest::printLayout() {
    QFETCH(int, pageId);
    QFETCH(int, orientation);
    QFETCH(bool, fits);

    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, tmp_.filePath(QStringLiteral("layout.pdf")));
    printer.setPageSize(QPageSize(QPageSize::PageSizeId(pageId)));
    printer.setPageOrientation(QPageLayout::Orientation(orientation));
    QPainter painter;
    QVERIFY(painter.begin(&printer));
    const kaldrome::PrintLayout layout = kaldrome::LayoutFor(painter);
    painter.end();

    const QFontMetricsF metrics(layout.font, &printer);
    // Fixed pitch: every character of a document takes the same width.
    const qreal advance = metrics.horizontalAdvance(QLatin1Char('0'));
    for (QChar c : QStringLiteral(" 19!=N:,"))
        QVERIFY2(qFuzzyCompare(metrics.horizontalAdvance(c), advance), qPrintable(QString(c)));
    const qreal lineWidth =
        metrics.horizontalAdvance(QString(kaldrome::PrintLineChars, QLatin1Char('0')));
    QCOMPARE(lineWidth <= layout.pageWidth, fits);
    QCOMPARE(layout.pageWidth, qreal(printer.width()));
    if (fits) QVERIFY(layout.font.pointSizeF() <= 10.0);
    if (!fits) QCOMPARE(layout.font.pointSizeF(), 4.0);
    // As many lines as the page holds, and not one more.
    QVERIFY(layout.linesPerPage >= 1);
    QVERIFY(layout.linesPerPage * layout.lineHeight <= printer.height() ||
            layout.linesPerPage == 1);
    QVERIFY((layout.linesPerPage + 1) * layout.lineHeight > printer.height());
}

void ExportsTest::printToPdf_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("minPages");
    QTest::newRow("0! three lines") << 0 << 1;
    QTest::newRow("12! top group zero-padded") << 12 << 1;
    QTest::newRow("41! empty line before the footer") << 41 << 1;
    QTest::newRow("50! two body lines") << 50 << 1;
    QTest::newRow("1000! grouped footer") << 1000 << 1;
    QTest::newRow("6000! breaks pages where they are full") << 6000 << 3;
}

void ExportsTest::printToPdf() {
    QFETCH(int, n);
    QFETCH(int, minPages);

    const std::string document = DocumentFor(n);
    const QString pdf = tmp_.filePath(QStringLiteral("print%1.pdf").arg(n));
    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, pdf);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QCOMPARE(guitest::FailureOf(kaldrome::PrintDocument(printer, document)), QString());

    QString error;
    const QList<QStringList> pages = PdfPages(pdf, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QPainter painter;
    QVERIFY(painter.begin(&printer));  // the same page, to learn its line count
    const int perPage = kaldrome::LayoutFor(painter).linesPerPage;
    painter.end();

    // One printed line per document line, in order; every page but the last full.
    const QStringList expected = DocumentLines(document);
    QStringList printed;
    for (int i = 0; i < pages.size(); ++i) {
        if (i + 1 < pages.size()) QCOMPARE(pages[i].size(), perPage);
        printed << pages[i];
    }
    QCOMPARE(printed, expected);
    QVERIFY(pages.size() >= minPages);
    QCOMPARE(pages.size(), int((expected.size() + perPage - 1) / perPage));
}

void ExportsTest::printFailure() {
    // A printer that cannot take the job (here: its output folder is gone).
    QPrinter printer(QPrinter::HighResolution);
    UsePdf(printer, tmp_.filePath(QStringLiteral("gone/away/out.pdf")));
    QVERIFY(!guitest::FailureOf(kaldrome::PrintDocument(printer, DocumentFor(41))).isEmpty());
    QVERIFY(!QFileInfo::exists(tmp_.filePath(QStringLiteral("gone"))));
}

void ExportsTest::followDefaultPrinter_data() {
    QTest::addColumn<bool>("pdf");
    QTest::addColumn<bool>("keepChoice");
    QTest::addColumn<bool>("expectKept");
    QTest::newRow("file output left alone, choice kept") << true << true << true;
    QTest::newRow("file output left alone, no choice") << true << false << false;
}

void ExportsTest::followDefaultPrinter() {
    QFETCH(bool, pdf);
    QFETCH(bool, keepChoice);
    QFETCH(bool, expectKept);
    QPrinter printer(QPrinter::HighResolution);
    const QString out = tmp_.filePath(QStringLiteral("follow.pdf"));
    if (pdf)
        UsePdf(printer, out);
    else
        printer.setPrinterName(QStringLiteral("kaldrome-test-printer-that-does-not-exist"));
    QCOMPARE(kaldrome::FollowDefaultPrinter(printer, keepChoice), expectKept);
    if (pdf) {
        QCOMPARE(printer.outputFormat(), QPrinter::PdfFormat);
        QCOMPARE(printer.outputFileName(), out);
    }
}

// --- Messages ---------------------------------------------------------------

// --- The commands of the window, after real runs ----------------------------

void ExportsTest::windowCopy_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0!") << 0 << QString() << Doc("0!=⏎··0000001⏎Number·of·digits:·1");
    QTest::newRow("1! like 0! with its own header")
        << 1 << QString() << Doc("1!=⏎··0000001⏎Number·of·digits:·1");
    QTest::newRow("2!") << 2 << QString() << Doc("2!=⏎··0000002⏎Number·of·digits:·1");
    QTest::newRow("10! one full group")
        << 10 << QString() << Doc("10!=⏎··3628800⏎Number·of·digits:·7");
    QTest::newRow("12! top group zero-padded")
        << 12 << QString() << Doc("12!=⏎··0000047··9001600⏎Number·of·digits:·9");
    QTest::newRow("41! empty line before the footer")
        << 41 << QString()
        << Doc("41!=⏎··0000003··3452526··6131638··0710817··0062053··4407516··6515200··0000000⏎⏎"
               "Number·of·digits:·50");
    QTest::newRow("50! two body lines")
        << 50 << QString()
        << Doc("50!=⏎··0000030··4140932··0171337··8043612··6081660··6476884··4377641··5689605⏎"
               "··1200000··0000000⏎Number·of·digits:·65");
    QTest::newRow("1000! comma in the footer, none in the header")
        << 1000 << QStringLiteral(",") << QString();
    QTest::newRow("1000! the locale's own separator") << 1000 << QStringLiteral("'") << QString();
}

void ExportsTest::windowCopy() {
    QFETCH(int, n);
    QFETCH(QString, group);
    QFETCH(QString, expected);
    DialogDriver dog;
    Form1 w(GroupedWith(group));
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, n));

    const bool ready = w.State().PlainTextReady;
    QCOMPARE(ready, n <= 3);
    const std::string plainBefore = w.State().PlainText;
    const QString screen = guitest::ResultShown(w);

    QClipboard* cb = QGuiApplication::clipboard();
    cb->setText(QStringLiteral("something else"));
    w.Ui().mnuCopy->trigger();
    const QString first = cb->text();
    if (!expected.isNull()) QCOMPARE(first, expected);
    if (!group.isNull()) {
        QVERIFY(first.startsWith(QStringLiteral("1000!=\r\n  0402387  2600770")));
        QVERIFY(first.endsWith(QStringLiteral("  0000000\r\nNumber of digits: 2") + group +
                               QStringLiteral("568")));
    }
    // Composing leaves the run's texts as they were; only a build for n > 3 fills PlainText.
    QCOMPARE(w.State().PlainTextReady, ready);
    if (ready) QCOMPARE(w.State().PlainText, plainBefore);
    QCOMPARE(guitest::ResultShown(w), screen);

    // The twin, and a second copy, give the same document.
    cb->clear();
    w.Ui().mnuCopy_Pop->trigger();
    QCOMPARE(cb->text(), first);
    w.mnuCopy_Click();
    QCOMPARE(cb->text(), first);
    GUITEST_VERIFY_DIALOGS(dog);
}

void ExportsTest::windowCommandsWithoutResult_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("afterStop");
    QTest::newRow("copy before any run") << "copy" << false;
    QTest::newRow("create file before any run") << "file" << false;
    QTest::newRow("copy after a stopped run") << "copy" << true;
    QTest::newRow("create file after a stopped run") << "file" << true;
}

void ExportsTest::windowCommandsWithoutResult() {
    QFETCH(QString, command);
    QFETCH(bool, afterStop);
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    if (afterStop) {
        // Stop as soon as the run hands the window its first slice of events.
        guitest::After(0, &w, [&] { w.Ui().cmdStop->click(); });
        guitest::EnterNumber(w, QStringLiteral("999999"));
        QVERIFY(QTest::qWaitFor([&] { return !w.Running(); }, 60000));
        QVERIFY(w.State().DisplayText.empty());
    }
    QClipboard* cb = QGuiApplication::clipboard();
    cb->setText(QStringLiteral("untouched"));
    DialogDriver driver(0);  // any dialog at all is a failure
    // Called directly, as a stray shortcut or driver would: nothing to export, nothing happens.
    if (command == "copy")
        w.mnuCopy_Click();
    else
        w.mnuCreateFile_Click();
    QTest::qWait(200);
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(cb->text(), QStringLiteral("untouched"));
}

void ExportsTest::windowSaveSettings_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("leftovers");  // another command used dlgDialogo first
    QTest::newRow("0! proposes Kaldrome0") << 0 << false;
    QTest::newRow("1! proposes Kaldrome1") << 1 << false;
    QTest::newRow("1234! proposes Kaldrome1234, no grouping") << 1234 << false;
    QTest::newRow("settings applied again after Print Setup's") << 10 << true;
}

void ExportsTest::windowSaveSettings() {
    QFETCH(int, n);
    QFETCH(bool, leftovers);
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, n));
    if (leftovers) {
        // What Print Setup and Help leave in the shared object.
        w.Ui().dlgDialogo->Flags = CommonDialog::PrintSetupForm;
        w.Ui().dlgDialogo->DialogTitle = QStringLiteral("Print Setup");
        w.Ui().dlgDialogo->FileName = QStringLiteral("/elsewhere/other.doc");
        w.Ui().dlgDialogo->Filter = QStringLiteral("All (*)|*");
        w.Ui().dlgDialogo->FilterIndex = 1;
        w.Ui().dlgDialogo->CancelError = false;
    }
    const bool ready = w.State().PlainTextReady;
    const std::string plain = w.State().PlainText;

    const QString proposed = QStringLiteral("Kaldrome%1").arg(n);
    DialogDriver driver;
    driver.Then([&](QWidget* dlg, QStringList& f) {
        CheckSaveSettings(dlg, f, proposed);
        CancelFileDialog()(dlg, f);
    });
    const QString cwd = QDir::currentPath();
    const QStringList before = Entries(cwd);
    w.Ui().mnuCreateFile->trigger();
    GUITEST_VERIFY_DIALOGS(driver);
    // Cancelled: nothing built, nothing written.
    QCOMPARE(Entries(cwd), before);
    QCOMPARE(w.State().PlainTextReady, ready);
    QCOMPARE(w.State().PlainText, plain);
    QCOMPARE(w.Ui().dlgDialogo->Flags, CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly);
    QCOMPARE(w.Ui().dlgDialogo->FilterIndex, 3);
    QVERIFY(w.Ui().dlgDialogo->CancelError);
}

void ExportsTest::windowCreateFile_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("existing");  // null: no such file yet
    QTest::addColumn<QByteArray>("expected");  // null: the clipboard's document and CR LF
    QTest::addColumn<bool>("twin");

    const QByteArray ten("10!=\r\n  3628800\r\nNumber of digits: 7\r\n");
    QTest::newRow("10! exact bytes") << 10 << "Kaldrome10.txt" << QByteArray() << ten << false;
    QTest::newRow("name without extension kept")
        << 10 << "Kaldrome10" << QByteArray() << ten << false;
    QTest::newRow("existing file replaced after the question, not appended")
        << 10 << "Kaldrome10.rtf" << QByteArray(5000, 'x') << ten << false;
    QTest::newRow("pop-up twin writes the same") << 10 << "twin.doc" << QByteArray() << ten << true;
    QTest::newRow("41! the clipboard's document and one CR LF")
        << 41 << "k41.txt" << QByteArray() << QByteArray() << false;
    QTest::newRow("1000! the clipboard's document and one CR LF")
        << 1000 << "k1000.txt" << QByteArray() << QByteArray() << false;
}

void ExportsTest::windowCreateFile() {
    QFETCH(int, n);
    QFETCH(QString, typed);
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, expected);
    QFETCH(bool, twin);

    QTemporaryDir dir;
    const QString path = dir.filePath(typed);
    if (!existing.isNull()) QVERIFY(WriteBytes(path, existing));
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, n));
    w.Ui().mnuCopy->trigger();
    const QString copied = QGuiApplication::clipboard()->text();

    DialogDriver driver;
    driver.Then(TypeAndSave(path));
    if (!existing.isNull())
        driver.Then(AnswerBox([](QMessageBox*, QStringList&) {}, QMessageBox::Yes));
    (twin ? w.Ui().mnuCreateFile_Pop : w.Ui().mnuCreateFile)->trigger();
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(w.Ui().dlgDialogo->FileName, path);

    const QByteArray bytes = ReadBytes(path);
    QCOMPARE(bytes, expected.isNull() ? (copied + QStringLiteral("\r\n")).toLocal8Bit() : expected);
    if (!expected.isNull()) QCOMPARE(bytes, (copied + QStringLiteral("\r\n")).toLocal8Bit());
    QCOMPARE(Entries(dir.path()), QStringList{typed});

    // Once more: the same bytes again.
    QFile::remove(path);
    DialogDriver again;
    again.Then(TypeAndSave(path));
    w.Ui().mnuCreateFile->trigger();
    GUITEST_VERIFY_DIALOGS(again);
    QCOMPARE(ReadBytes(path), bytes);
}

void ExportsTest::windowCreateFileFailure_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("disk full keeps the existing file intact") << "full";
}

void ExportsTest::windowCreateFileFailure() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QByteArray old("the file that was there\r\n");
    QString path;
    if (kind == "missing") {
        path = dir.filePath(QStringLiteral("gone/Kaldrome1000"));
    } else {
        path = dir.filePath(QStringLiteral("Kaldrome1000.txt"));
        QVERIFY(WriteBytes(path, old));
    }
    const QStringList before = Entries(dir.path());

    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, 1000));
    const QString screen = guitest::ResultShown(w);
    const QString digits = w.Ui().lblDigitos->text();

    DialogDriver driver;
    driver.Then(TypeAndSave(path));
    if (kind == "full") driver.Then(AnswerBox([](QMessageBox*, QStringList&) {}, QMessageBox::Yes));
    driver.Then(AnswerBox(
        [&](QMessageBox* box, QStringList& f) {
            Check(f, box->windowTitle() == QStringLiteral("Kaldrome"),
                  "title " + box->windowTitle());
            Check(f, box->text().contains(QDir::toNativeSeparators(path)),
                  "names the file: " + box->text());
            const QStringList lines = box->text().split(QLatin1Char('\n'));
            Check(f, lines.size() >= 2 && !lines.last().trimmed().isEmpty(),
                  "gives a reason: " + box->text());
            Check(f, box->standardButtons() == QMessageBox::Ok, "OK");
        },
        QMessageBox::Ok));
    if (kind == "full") {
        FileSizeLimit limit(64);
        w.Ui().mnuCreateFile->trigger();
    } else {
        w.Ui().mnuCreateFile->trigger();
    }
    GUITEST_VERIFY_DIALOGS(driver);

    // The result stays, the old file stays, nothing half-written is left.
    QCOMPARE(guitest::ResultShown(w), screen);
    QCOMPARE(w.Ui().lblDigitos->text(), digits);
    QVERIFY(w.Ui().mnuCreateFile->isEnabled());
    QCOMPARE(Entries(dir.path()), before);
    if (kind != "missing")
        QCOMPARE(ReadBytes(kind == "notdir" ? dir.filePath(QStringLiteral("plain")) : path), old);

    // And the next Create File works.
    const QString good = dir.filePath(QStringLiteral("after.txt"));
    DialogDriver next;
    next.Then(TypeAndSave(good));
    w.Ui().mnuCreateFile->trigger();
    GUITEST_VERIFY_DIALOGS(next);
    QVERIFY(ReadBytes(good).endsWith("Number of digits: 2,568\r\n"));
}

void ExportsTest::windowNoPrinter_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("withResult");
    QTest::newRow("Print") << "mnuPrint" << true;
    QTest::newRow("Print, pop-up twin") << "mnuPrint_Pop" << true;
    QTest::newRow("Print Setup") << "mnuPrintSetup" << true;
    QTest::newRow("Print Setup, pop-up twin") << "mnuPrintSetup_Pop" << true;
    QTest::newRow("Print Setup before any run") << "mnuPrintSetup" << false;
}

void ExportsTest::windowNoPrinter() {
    QFETCH(QString, command);
    QFETCH(bool, withResult);
    QVERIFY(!kaldrome::Utilities::PrinterInstalled());
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    if (withResult) QVERIFY(RunWindow(w, 50));
    const int flags = w.Ui().dlgDialogo->Flags;
    const std::string plain = w.State().PlainText;

    auto* item = w.findChild<QAction*>(command);
    QVERIFY(item != nullptr);
    QVERIFY(item->isEnabled());
    DialogDriver driver;
    driver.Then(AnswerBox(
        [](QMessageBox* box, QStringList& f) {
            Check(f, box->windowTitle() == QStringLiteral("Kaldrome"), "title");
            Check(f, box->text() == NoPrinterText, "text " + box->text());
            Check(f, box->icon() == QMessageBox::Critical, "stop icon");
            Check(f, box->standardButtons() == QMessageBox::Ok, "one OK button");
        },
        QMessageBox::Ok));
    item->trigger();
    GUITEST_VERIFY_DIALOGS(driver);
    // Nothing else happened: no printer made, no settings changed, nothing built.
    QCOMPARE(w.Printer(), nullptr);
    QCOMPARE(w.Ui().dlgDialogo->Flags, flags);
    QCOMPARE(w.State().PlainText, plain);

    // Copy still works.
    if (withResult) {
        w.Ui().mnuCopy->trigger();
        QVERIFY(
            QGuiApplication::clipboard()->text().startsWith(QStringLiteral("50!=\r\n  0000030")));
    }
}

int main(int argc, char** argv) {
    // No print server: the tests must not depend on the printers of the machine.
    qputenv("CUPS_SERVER", "/nonexistent/kaldrome-tests/cups.sock");
    QApplication app(argc, argv);
    ExportsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_exports.moc"

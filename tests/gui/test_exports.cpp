// Exports: the file bytes, the clipboard text and the printout of a result
// document; the save and printer dialogs behind dlgDialogo; the messages for
// a missing printer and for failed exports.
//
// Every dialog the code opens is driven by guitest's DialogDriver, whose
// deadline fails the test and closes the dialog rather than let it hang the run.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <atomic>
#include <cstdlib>
#include <new>
#include "commands/common_dialog.h"

#include "base/number_format.h"
#include "commands/exports.h"
#include "commands/print_job.h"
#include "commands/print_service.h"
#include "commands/print_setup.h"
#include "engine/factorial_engine.h"
#include "gui/failing_new.h"
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

// Lets permission bits apply for its duration: root passes them all, so as
// root the effective user becomes nobody (the saved user stays root).
class PermissionsApply {
  public:
    PermissionsApply() {
        if (geteuid() == 0) dropped_ = seteuid(65534) == 0;
    }
    ~PermissionsApply() {
        if (dropped_) QVERIFY(seteuid(0) == 0);
    }
    PermissionsApply(const PermissionsApply&) = delete;
    PermissionsApply& operator=(const PermissionsApply&) = delete;

  private:
    bool dropped_ = false;
};

// Makes a pipe, device (a copy of /dev/null) or socket named path.
bool MakeNode(const QString& kind, const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (kind == "pipe")
        return mkfifo(name.constData(), 0666) == 0 && chmod(name.constData(), 0666) == 0;
    if (kind == "device") return mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path)) return false;
    std::copy(name.begin(), name.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool made =
        fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return made;
}

// What kind of entry path is and which one (lstat: a link is a link).
QString NodeOf(const QString& path) {
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) != 0) return QStringLiteral("nothing");
    return QStringLiteral("type %1 inode %2").arg(st.st_mode & S_IFMT, 0, 8).arg(st.st_ino);
}

// Whether this test program has a mount namespace of its own (see main).
bool PrivateMounts = false;

// A file system of 64 KiB of the test's own (tmpfs) over folder, for as long
// as the object lives: a disk that can be filled up.
class SmallDisk {
  public:
    explicit SmallDisk(const QString& folder) : folder_(QFile::encodeName(folder)) {
        mounted_ = PrivateMounts && !folder.isEmpty() &&
                   mount("tmpfs", folder_.constData(), "tmpfs", 0, "size=64k,mode=0777") == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount(folder_.constData());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    // Takes all the room that is left with the file path; true when it is full.
    static bool Fill(const QString& path) {
        const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0644);
        const char block[512] = {};
        while (fd >= 0 && write(fd, block, sizeof block) > 0) {
        }
        const bool full = errno == ENOSPC;
        if (fd >= 0) close(fd);
        return full;
    }

  private:
    QByteArray folder_;
    bool mounted_ = false;
};

// The user's settings folder for this test run (XDG_CONFIG_HOME), holding a
// file dialog state that points into a trap folder: no dialog may read it.
struct PlantedSettings {
    QTemporaryDir config;
    QTemporaryDir trap;
    QString file() const { return config.filePath(QStringLiteral("QtProject.conf")); }
    QByteArray planted() const {
        const QByteArray url = QUrl::fromLocalFile(trap.path()).toEncoded();
        return "[FileDialog]\nhistory=" + url + "\nlastVisited=" + url + "\nviewMode=List\n";
    }
};
PlantedSettings* Planted = nullptr;

// Which entries of a folder (other than folders) were opened or read while it
// watched: a dialog that sniffs file contents opens them.
class OpenWatch {
  public:
    explicit OpenWatch(const QString& folder)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          wd_(inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_OPEN | IN_ACCESS)) {}
    ~OpenWatch() { close(fd_); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool Watching() const { return fd_ >= 0 && wd_ >= 0; }
    QStringList Opened() {
        alignas(inotify_event) char buffer[8192];
        QStringList names;
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    names << QString::fromLocal8Bit(event->name);
                p += sizeof(inotify_event) + event->len;
            }
        }
        names.removeDuplicates();
        return names;
    }

  private:
    int fd_;
    int wd_;
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

// The print service's wait in these tests.
constexpr std::chrono::milliseconds ServiceWait{400};

// A local socket at path that takes connections (the kernel queues them) and
// never reads or answers; -1 on failure.
int ListeningSocket(const QByteArray& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= qsizetype(sizeof address.sun_path)) return -1;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

class ExportsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();

    void fileBytes_data();
    void fileBytes();
    void fileWriteFailure_data();
    void fileWriteFailure();

    void fileInReadOnlyFolder_data();
    void fileInReadOnlyFolder();

    void clipboardPlainTextOnly();
    void clipboardMissing();

    void nameFilters_data();
    void nameFilters();
    void saveDialog_data();
    void saveDialog();
    void saveDialogKeepsNoSettings_data();
    void saveDialogKeepsNoSettings();
    void printerDialog();
    void printSetupChoice_data();
    void printSetupChoice();
    void printWithProgress_data();
    void printWithProgress();

    void printLayout_data();
    void printLayout();
    void printToPdf_data();
    void printToPdf();
    void printFailure();
    void printService_data();
    void printService();

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
    void windowOutOfMemory_data();
    void windowOutOfMemory();
    void outOfMemory_data();
    void outOfMemory();

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
    QTest::addColumn<bool>("link");  // the name is a link to the file written

    const QByteArray ten("10!=\r\n  3628800\r\nNumber of digits: 7\r\n");
    QTest::newRow("0! one group, new file")
        << 0 << QString() << QByteArray()
        << QByteArray("0!=\r\n  0000001\r\nNumber of digits: 1\r\n") << false;
    QTest::newRow("shorter existing file replaced")
        << 10 << QString() << QByteArray("old") << ten << false;
    QTest::newRow("through a link the file is replaced, the link stays")
        << 10 << QString() << QByteArray("old") << ten << true;
    QTest::newRow("1000! comma separator")
        << 1000 << QStringLiteral(",") << QByteArray() << QByteArray() << false;
    QTest::newRow("1000! no-break space separator in the locale encoding")
        << 1000 << QStringLiteral("\u00A0") << QByteArray() << QByteArray() << false;
}

void ExportsTest::fileBytes() {
    QFETCH(int, n);
    QFETCH(QString, group);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);
    QFETCH(bool, link);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kaldrome%1").arg(n));
    const QString file = link ? dir.filePath(QStringLiteral("target")) : path;
    const auto kept = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    if (!before.isNull()) QVERIFY(WriteBytes(file, before) && QFile::setPermissions(file, kept));
    if (link) QVERIFY(QFile::link(QStringLiteral("target"), path));

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
    QCOMPARE(bytes.size(), qsizetype(document.size()) + 2);
    // Nothing but the target (and the link) is left in the folder.
    const QStringList left = link ? QStringList{QFileInfo(path).fileName(), "target"}
                                  : QStringList{QFileInfo(path).fileName()};
    QCOMPARE(Entries(dir.path()), left);
    if (link) QCOMPARE(QFileInfo(path).symLinkTarget(), file);
    // A replaced file keeps its permissions; a new one has those of any new file.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st {};
    QVERIFY(stat(QFile::encodeName(file).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, before.isNull() ? 0666 & ~mask : 0640u);

    // Writing the same result again gives the same bytes.
    QCOMPARE(guitest::FailureOf(kaldrome::WriteDocumentFile(path, document)), QString());
    QCOMPARE(ReadBytes(path), bytes);
}

void ExportsTest::fileWriteFailure_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("told");  // what stands at the name; empty: any reason
    const QString any;
    QTest::newRow("missing folder") << "missing" << any;
    QTest::newRow("parent is a regular file") << "notdir" << any;
    QTest::newRow("target is a folder") << "isdir" << QStringLiteral("a folder");
    QTest::newRow("folder where no file can be created") << "proc" << any;
    QTest::newRow("disk full keeps the existing file intact") << "full" << any;
    QTest::newRow("really full disk: the file intact, nothing left beside it")
        << "small disk" << any;
    QTest::newRow("a pipe is not replaced") << "pipe" << QStringLiteral("a pipe");
    QTest::newRow("a link to a pipe is not followed into it")
        << "link to pipe" << QStringLiteral("a pipe");
    QTest::newRow("a device is not replaced") << "device" << QStringLiteral("a device");
    QTest::newRow("a socket is not replaced") << "socket" << QStringLiteral("a socket");
}

void ExportsTest::fileWriteFailure() {
    QFETCH(QString, kind);
    QFETCH(QString, told);
    QTemporaryDir dir;
    SmallDisk disk(kind == "small disk" ? dir.path() : QString());
    if (kind == "small disk" && !disk.Mounted())
        QSKIP("a file system of the test's own needs root");
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
    } else if (!told.isEmpty()) {
        if (kind == "device" && geteuid() != 0) QSKIP("only root can make a device node");
        path = dir.filePath(QStringLiteral("Kaldrome10"));
        if (kind == "link to pipe") {
            QVERIFY(MakeNode("pipe", dir.filePath(QStringLiteral("node"))));
            QVERIFY(QFile::link(QStringLiteral("node"), path));
        } else {
            QVERIFY(MakeNode(kind, path));
        }
    } else if (kind == "proc") {
        path = QStringLiteral("/proc/Kaldrome10");
    } else if (kind == "full" || kind == "small disk") {
        path = dir.filePath(QStringLiteral("Kaldrome1000.txt"));
        QVERIFY(WriteBytes(path, old));
        if (disk.Mounted()) QVERIFY(disk.Fill(dir.filePath(QStringLiteral("filler"))));
    }
    if (kind != "proc") watched = dir.path();
    const QStringList entriesBefore = watched.isEmpty() ? QStringList() : Entries(watched);
    const auto nodes = [&] { return NodeOf(path) + ", " + NodeOf(dir.filePath("node")); };
    const QString nodesBefore = nodes();

    const std::string document = DocumentFor(1000);  // some 3 KB
    QString reason;
    if (kind == "full") {
        FileSizeLimit limit(16);
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
    } else {
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
    }

    QVERIFY2(!reason.isEmpty(), "a failed write must be reported");
    if (!told.isEmpty()) {
        QCOMPARE(reason, QStringLiteral("It is %1, not a file that can be written.").arg(told));
        QCOMPARE(nodes(), nodesBefore);  // the same nodes, of the same kinds
    }
    if (kind == "full" || kind == "small disk" || kind == "notdir")
        QCOMPARE(ReadBytes(kind == "notdir" ? dir.filePath(QStringLiteral("plain")) : path), old);
    if (kind == "isdir") QVERIFY(QFileInfo(path).isDir());
    if (kind == "missing") QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("no"))));
    if (!watched.isEmpty()) QCOMPARE(Entries(watched), entriesBefore);  // no temporary file left

    // The message names the file and the reason.
    const QString text = kaldrome::FileErrorText(path, reason);
    QVERIFY(text.contains(QDir::toNativeSeparators(path)));
    QVERIFY(text.contains(reason));
}

void ExportsTest::fileInReadOnlyFolder_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<QString>("trouble");  // what gets in the way, if anything
    QTest::addColumn<bool>("replaced");
    QTest::newRow("writable file is rewritten in place") << true << true << "" << true;
    QTest::newRow("read-only file stays as it was") << true << false << "" << false;
    QTest::newRow("no new file can be made") << false << false << "" << false;
    QTest::newRow("a pipe is refused at once, not waited on") << true << true << "pipe" << false;
    QTest::newRow("no room on the disk: the file stays as it was")
        << true << true << "disk full" << false;
    QTest::newRow("over the file size limit: the file stays as it was")
        << true << true << "size limit" << false;
    QTest::newRow("ended during the rewrite: the file is finished first")
        << true << true << "ended" << true;
}

void ExportsTest::fileInReadOnlyFolder() {
    QFETCH(bool, exists);
    QFETCH(bool, fileWritable);
    QFETCH(QString, trouble);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    SmallDisk disk(trouble == "disk full" ? dir.path() : QString());
    if (trouble == "disk full" && !disk.Mounted())
        QSKIP("a file system of the test's own needs root");
    const QString path = dir.filePath(QStringLiteral("Kaldrome10.txt"));
    const QByteArray old(5000, 'x');  // longer than the document: no tail may stay
    // On the full disk the document needs more blocks than the old file holds.
    const std::string document = DocumentFor(trouble == "disk full" ? 3000 : 10);
    const QByteArray written = QByteArray::fromStdString(document + "\r\n");
    const auto all = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const auto writeAll =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    const auto enterAll = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    if (trouble == "pipe") {
        QVERIFY(MakeNode(trouble, path));
    } else if (exists) {
        QVERIFY(WriteBytes(path, old));
        QVERIFY(QFile::setPermissions(path, fileWritable ? all | writeAll : all));
    }
    if (disk.Mounted()) QVERIFY(disk.Fill(dir.filePath(QStringLiteral("filler"))));
    QVERIFY(QFile::setPermissions(dir.path(), all | enterAll));
    const QStringList before = Entries(dir.path());
    QString reason;
    if (trouble == "pipe" || trouble == "ended") {
        // In a child: one that waits on the pipe is ended after 10 s, and one
        // is sent SIGTERM in the middle of the write.
        const guitest::ChildResult child =
            guitest::RunSelf(QStringLiteral("rewrite"), {path, trouble}, {}, 10000);
        QVERIFY2(child.finished, "the write waited for a reader of the pipe");
        QVERIFY2((child.exitStatus == QProcess::CrashExit) == (trouble == "ended"),
                 child.output.constData());
        reason = QString::fromLocal8Bit(child.output)
                     .section(QStringLiteral("returned: "), 1)
                     .section(QLatin1Char('\n'), 0, 0);
    } else {
        std::optional<FileSizeLimit> limit;
        if (trouble == "size limit") limit.emplace(16);
        PermissionsApply asUser;
        reason = guitest::FailureOf(kaldrome::WriteDocumentFile(path, document));
    }
    QVERIFY(QFile::setPermissions(dir.path(), all | writeAll | enterAll));

    QCOMPARE(reason.isEmpty(), replaced);
    QCOMPARE(Entries(dir.path()), before);  // nothing made beside it
    if (trouble == "pipe")
        QCOMPARE(reason, QStringLiteral("It is a pipe, not a file that can be written."));
    else if (exists)
        QCOMPARE(ReadBytes(path), replaced ? written : old);
    if (!replaced && exists && trouble != "pipe")
        QVERIFY2(reason.endsWith(QStringLiteral("The file was left as it was.")) || !fileWritable,
                 qPrintable(reason));
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

void ExportsTest::saveDialogKeepsNoSettings_data() {
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("detail");  // the view that asks for every entry's type
    QTest::newRow("cancelled, list view") << false << false;
    QTest::newRow("accepted, detail view") << true << true;
}

void ExportsTest::saveDialogKeepsNoSettings() {
    QFETCH(bool, accept);
    QFETCH(bool, detail);
    // A folder whose entries only a content sniffer would open: a file without
    // an extension (as /proc/kmsg, whose read never returns) and a pipe.
    QTemporaryDir dir;
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("kmsg")), "<6>kernel: some text\n"));
    QVERIFY(WriteBytes(dir.filePath(QStringLiteral("notes.txt")), "text"));
    QVERIFY(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
    OpenWatch watch(dir.path());
    QVERIFY(watch.Watching());

    QWidget owner;
    CommonDialog dlg(&owner);
    dlg.DialogTitle = QStringLiteral("Specify File Name to Create");
    dlg.FileName = dir.filePath(QStringLiteral("Kaldrome10"));
    dlg.CancelError = true;
    QStringList opened;
    DialogDriver driver;
    driver.Then([&](QWidget* w, QStringList& f) {
        auto* fd = Expect<QFileDialog>(w, f, "file dialog");
        if (fd == nullptr) return;
        Check(f, !fd->history().contains(Planted->trap.path()), "history read back");
        Check(f, fd->viewMode() == QFileDialog::Detail, "view mode read back");
        if (!detail) fd->setViewMode(QFileDialog::List);
        QTimer::singleShot(600, fd, [&, fd] {
            // Every entry's icon and type, as the views ask for them.
            if (auto* model = fd->findChild<QFileSystemModel*>()) {
                const QModelIndex root = model->index(dir.path());
                for (int row = 0; row < model->rowCount(root); ++row) {
                    model->data(model->index(row, 0, root), Qt::DecorationRole);
                    model->type(model->index(row, 0, root));
                }
            }
            QTest::qWait(300);
            opened = watch.Opened();
            if (accept)
                QMetaObject::invokeMethod(fd, "accept", Qt::QueuedConnection);
            else
                fd->reject();
        });
    });
    QCOMPARE(dlg.ShowSave(), accept);
    QCOMPARE(opened, QStringList());
    // Nothing written to the settings folder, nothing changed there.
    QCOMPARE(Entries(Planted->config.path()), QStringList{QStringLiteral("QtProject.conf")});
    QCOMPARE(ReadBytes(Planted->file()), Planted->planted());
    GUITEST_VERIFY_DIALOGS(driver);
}

// --- dlgDialogo as printer dialog ------------------------------------------

namespace {

// The Print Setup form: which printer and which paper, nothing about pages or copies.
void CheckSetupForm(QWidget* w, QStringList& f) {
    Check(f, w->windowTitle() == QStringLiteral("Print Setup"), "title " + w->windowTitle());
    Check(f, w->findChildren<QAbstractSpinBox*>().isEmpty(), "no copies or page numbers");
    Check(f, w->findChildren<QCheckBox*>().isEmpty(), "no collating or reversing");
    Check(f, w->findChildren<QLineEdit*>().isEmpty(), "no page ranges or file names");
    Check(f, w->findChildren<QComboBox*>().size() == 2, "a printer box and a paper box");
    QStringList buttons;
    for (const QAbstractButton* b : w->findChildren<QAbstractButton*>())
        buttons << b->text().remove(QLatin1Char('&'));
    buttons.sort();
    Check(f, buttons == QStringList({"Cancel", "Landscape", "OK", "Portrait"}),
          "buttons " + buttons.join(QStringLiteral(", ")));
}

// A window that asks for a repaint every 10 ms and counts the paints it gets.
class PaintCounter : public QWidget {
  public:
    PaintCounter() {
        connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
        timer_.start(10);
        resize(200, 100);
    }
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }

  private:
    QTimer timer_;
};

// lines lines of eight groups, as a long result's body.
std::string LinesOfGroups(int lines) {
    std::string text;
    char group[16];
    for (int i = 0; i < lines; ++i) {
        if (i > 0) text += "\r\n";
        for (int g = 0; g < 8; ++g) {
            std::snprintf(group, sizeof group, "  %07d", (i * 8 + g) % 10000000);
            text += group;
        }
    }
    return text;
}

}  // namespace

void ExportsTest::printerDialog() {
    // Without a print service there is nothing to choose: OK is off, and
    // cancelling leaves the choice exactly as it was.
    QWidget owner;
    CommonDialog dlg(&owner);
    dlg.Flags = CommonDialog::PrintSetupForm;
    kaldrome::PrinterChoice choice{"gone", QPageSize(QPageSize::A5), QPageLayout::Landscape};

    DialogDriver driver;
    driver.Then([&](QWidget* w, QStringList& f) {
        CheckSetupForm(w, f);
        auto* buttons = w->findChild<QDialogButtonBox*>();
        QPushButton* ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
        Check(f, ok != nullptr && !ok->isEnabled(), "OK is off with no printer to choose");
        if (auto* d = qobject_cast<QDialog*>(w))
            QMetaObject::invokeMethod(d, &QDialog::reject, Qt::QueuedConnection);
    });
    QVERIFY(!dlg.ShowPrinter({}, choice));
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(choice.name, QStringLiteral("gone"));
    QCOMPARE(choice.pageSize.id(), QPageSize::A5);
    QCOMPARE(choice.orientation, QPageLayout::Landscape);
}

void ExportsTest::printSetupChoice_data() {
    QTest::addColumn<QString>("printer");  // picked in the form; empty: left as it was
    QTest::addColumn<int>("paper");        // QPageSize id picked; -1: left as it was
    QTest::addColumn<bool>("landscape");   // Landscape clicked
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("expectPrinter");
    QTest::addColumn<int>("expectPaper");
    QTest::addColumn<bool>("expectLandscape");
    const int a4 = QPageSize::A4, a5 = QPageSize::A5, letter = QPageSize::Letter,
              legal = QPageSize::Legal;
    QTest::newRow("another printer, OK: its own default where it lacks our paper")
        << "office" << -1 << false << true << "office" << legal << false;
    QTest::newRow("another printer, Cancel: nothing changes")
        << "office" << -1 << false << false << "lab" << a4 << false;
    QTest::newRow("paper and orientation, OK") << "" << a5 << true << true << "lab" << a5 << true;
    QTest::newRow("paper and orientation, Cancel")
        << "" << a5 << true << false << "lab" << a4 << false;
    QTest::newRow("there and back, OK: the paper chosen stays")
        << "lab" << letter << false << true << "lab" << letter << false;
}

void ExportsTest::printSetupChoice() {
    QFETCH(QString, printer);
    QFETCH(int, paper);
    QFETCH(bool, landscape);
    QFETCH(bool, accept);
    QFETCH(QString, expectPrinter);
    QFETCH(int, expectPaper);
    QFETCH(bool, expectLandscape);
    const auto sizes = [](std::initializer_list<QPageSize::PageSizeId> ids) {
        QList<QPageSize> list;
        for (auto id : ids) list << QPageSize(id);
        return list;
    };
    const QList<kaldrome::PrinterOffer> offers = {
        {"lab", "Ready", "Laser 1", "Room 2", "",
         sizes({QPageSize::A4, QPageSize::A5, QPageSize::Letter}), QPageSize(QPageSize::A4)},
        {"office", "Stopped", "Ink 2", "Hall", "slow", sizes({QPageSize::Letter, QPageSize::Legal}),
         QPageSize(QPageSize::Legal)}};
    kaldrome::PrinterChoice choice{"lab", QPageSize(QPageSize::A4), QPageLayout::Portrait};

    QWidget owner;
    DialogDriver driver;
    driver.Then([&](QWidget* w, QStringList& f) {
        CheckSetupForm(w, f);
        auto* name = w->findChild<QComboBox*>(QStringLiteral("printerName"));
        auto* size = w->findChild<QComboBox*>(QStringLiteral("paperSize"));
        Check(f, name && size && name->currentText() == "lab" && size->currentText() == "A4",
              "opens on the current choice");
        if (name == nullptr || size == nullptr) return;
        // "there and back": Letter chosen on lab, then office (which has it) and lab again.
        if (paper == QPageSize::Letter) size->setCurrentIndex(2);
        if (!printer.isEmpty()) name->setCurrentIndex(name->findText("office"));
        if (printer == "lab") name->setCurrentIndex(name->findText("lab"));
        if (paper >= 0 && paper != QPageSize::Letter)
            size->setCurrentIndex(size->findText(QPageSize(QPageSize::PageSizeId(paper)).name()));
        if (landscape) w->findChild<QRadioButton*>(QStringLiteral("landscape"))->click();
        auto* buttons = w->findChild<QDialogButtonBox*>();
        QPushButton* b = buttons->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
    });
    QCOMPARE(kaldrome::ChoosePrinter(&owner, QStringLiteral("Print Setup"), offers, choice),
             accept);
    GUITEST_VERIFY_DIALOGS(driver);
    QCOMPARE(choice.name, expectPrinter);
    QCOMPARE(int(choice.pageSize.id()), expectPaper);
    QCOMPARE(choice.orientation == QPageLayout::Landscape, expectLandscape);
}

void ExportsTest::printWithProgress_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("act");  // "cancel": Cancel pressed; "refuse": the service refuses
    QTest::addColumn<bool>("dialog");  // the progress dialog shows
    QTest::newRow("short: printed at once, no dialog") << 200 << "" << false;
    QTest::newRow("long: the dialog shows, the window paints, all pages go") << 30000 << "" << true;
    QTest::newRow("long, cancelled: nothing reaches the print service")
        << 30000 << "cancel" << true;
    QTest::newRow("refused by the print service: a failure with its reason")
        << 200 << "refuse" << false;
}

void ExportsTest::printWithProgress() {
    QFETCH(int, lines);
    QFETCH(QString, act);
    QFETCH(bool, dialog);
    PaintCounter window;
    QVERIFY(guitest::ShowActive(&window));
    const std::string document = LinesOfGroups(lines);

    DialogDriver driver(120000, 120000);  // the dialog stays while the pages are drawn
    if (dialog) {
        driver.Then([&](QWidget* w, QStringList& f) {
            auto* progress = Expect<QProgressDialog>(w, f, "progress dialog");
            if (progress == nullptr) return;
            Check(f, progress->windowModality() == Qt::WindowModal, "holds the window's input");
            auto* cancel = progress->findChild<QPushButton*>();
            Check(f, cancel != nullptr && cancel->text() == QStringLiteral("Cancel"), "Cancel");
            if (act == "cancel" && cancel != nullptr)
                QMetaObject::invokeMethod(cancel, &QAbstractButton::click, Qt::QueuedConnection);
        });
    }
    int submitted = 0;
    int paints = window.paints;
    QElapsedTimer clock;
    clock.start();
    qint64 renderMs = 0;
    QByteArray pdf;
    const auto printed = kaldrome::PrintWithProgress(
        &window,
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10)),
        QStringLiteral("Kaldrome7"), document,
        [&](const QByteArray& bytes) -> kaldrome::Outcome<void> {
            ++submitted;
            renderMs = clock.elapsed();
            paints = window.paints - paints;
            pdf = bytes;
            if (act == "refuse") return kaldrome::Failure{"no jobs here"};
            return {};
        });
    GUITEST_VERIFY_DIALOGS(driver);
    if (act == "cancel") {
        QVERIFY(printed.Ok() && printed.Value() == kaldrome::PrintEnd::Cancelled);
        QCOMPARE(submitted, 0);
        return;
    }
    QCOMPARE(submitted, 1);
    if (act == "refuse") {
        QCOMPARE(guitest::FailureOf(printed), QStringLiteral("no jobs here"));
        return;
    }
    QVERIFY(printed.Ok() && printed.Value() == kaldrome::PrintEnd::Printed);
    // While it rendered, the window painted at least once in every 100 ms or so.
    if (dialog)
        QVERIFY2(paints >= renderMs / 100,
                 qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(renderMs)));
    // The whole document, page by page.
    const QString path = tmp_.filePath(QStringLiteral("progress.pdf"));
    QVERIFY(WriteBytes(path, pdf));
    QString error;
    QStringList printedLines;
    for (const QStringList& page : PdfPages(path, &error)) printedLines << page;
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(printedLines, DocumentLines(document));
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

void ExportsTest::printService_data() {
    QTest::addColumn<QString>("work");      // what the question does on the helper thread
    QTest::addColumn<bool>("answered");     // its answer reaches the window (else: given up)
    QTest::addColumn<int>("atLeastWaits");  // the outcome comes no sooner, in waits
    QTest::newRow("answers at once") << "answer" << true << 0;
    QTest::newRow("never answers: given up after the wait, the late answer dropped")
        << "hang" << false << 1;
    QTest::newRow("long work that keeps moving on is not cut off") << "moving" << true << 3;
    QTest::newRow("asked behind a hung question: a whole wait of its own")
        << "queued" << false << 1;
    QTest::newRow("given up: the work learns that it is no longer wanted")
        << "unwanted" << false << 1;
}

void ExportsTest::printService() {
    // A print service that takes a question and never answers must not hold
    // the window: the question is given up after the wait, and whatever comes
    // later is dropped. A short wait stands for the program's five seconds.
    QFETCH(QString, work);
    QFETCH(bool, answered);
    QFETCH(int, atLeastWaits);
    using kaldrome::WorkProgress;
    using namespace std::chrono_literals;
    auto service = std::make_unique<kaldrome::PrintService>(ServiceWait);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    auto sawUnwanted = std::make_shared<std::atomic<bool>>(false);
    const auto hang = [released](const WorkProgress&) {
        released.wait_for(60s);
        return 0;
    };
    const auto quick = [](const WorkProgress&) { return 42; };
    std::function<int(const WorkProgress&)> question = quick;
    if (work == "hang" || work == "queued") question = hang;
    if (work == "moving")
        question = [](const WorkProgress& progress) {
            for (int i = 0; i < 16; ++i) {
                std::this_thread::sleep_for(ServiceWait / 4);  // slow work, as a long job is
                progress.movedOn();
            }
            return 42;
        };
    if (work == "unwanted")
        question = [sawUnwanted](const WorkProgress& progress) {
            while (progress.wanted()) std::this_thread::sleep_for(10ms);
            *sawUnwanted = true;
            return 0;
        };

    int answers = 0;  // 42 counts 1, a late answer of 0 counts 100
    int silences = 0;
    QElapsedTimer clock;
    const auto ask = [&](std::function<int(const WorkProgress&)> q) {
        clock.start();
        service->Ask<int>(
            std::move(q), [&](int&& value) { answers += value == 42 ? 1 : 100; },
            [&] { ++silences; });
    };
    if (work == "queued") {
        ask(hang);
        QVERIFY(QTest::qWaitFor([&] { return silences == 1; }, 5000));
        silences = 0;
        question = quick;
    }
    ask(question);
    QVERIFY(QTest::qWaitFor([&] { return answers + silences > 0; }, 10000));
    const qint64 tookMs = clock.elapsed();
    QCOMPARE(answers, answered ? 1 : 0);
    QCOMPARE(silences, answered ? 0 : 1);
    QVERIFY2(tookMs >= atLeastWaits * ServiceWait.count() - 20,
             qPrintable(QString::number(tookMs)));
    QCOMPARE(service->Waiting(), 0);
    if (work == "unwanted") QVERIFY(QTest::qWaitFor([&] { return sawUnwanted->load(); }, 5000));

    // Once the helper is free again the next question is answered; what the
    // given-up ones brought back before it went nowhere.
    release.set_value();
    answers = 0;
    ask(quick);
    QVERIFY(QTest::qWaitFor([&] { return answers > 0; }, 5000));
    QCOMPARE(answers, 1);

    // A service whose helper is inside a call that never returns goes at once.
    std::promise<void> never;
    const std::shared_future<void> stuck = never.get_future().share();
    auto started = std::make_shared<std::atomic<bool>>(false);
    service->Ask<int>(
        [stuck, started](const WorkProgress&) {
            *started = true;
            stuck.wait_for(60s);
            return 0;
        },
        [](int&&) {}, [] {});
    QVERIFY(QTest::qWaitFor([&] { return started->load(); }, 5000));
    QElapsedTimer closing;
    closing.start();
    service.reset();
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
    never.set_value();
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
    QTest::newRow("a pipe is not a file that can be written") << "pipe";
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
        QVERIFY(kind == "pipe" ? MakeNode(kind, path) : WriteBytes(path, old));
    }
    const QStringList before = Entries(dir.path());
    const QString node = NodeOf(path);

    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, 1000));
    const QString screen = guitest::ResultShown(w);
    const QString digits = w.Ui().lblDigitos->text();

    DialogDriver driver;
    driver.Then(TypeAndSave(path));
    if (kind != "missing")
        driver.Then(AnswerBox([](QMessageBox*, QStringList&) {}, QMessageBox::Yes));
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
    QCOMPARE(NodeOf(path), node);
    if (kind == "full") QCOMPARE(ReadBytes(path), old);

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
    QTest::addColumn<bool>("silentService");  // a print service that takes calls and never answers
    QTest::newRow("Print") << "mnuPrint" << true << false;
    QTest::newRow("Print, pop-up twin") << "mnuPrint_Pop" << true << false;
    QTest::newRow("Print Setup") << "mnuPrintSetup" << true << false;
    QTest::newRow("Print Setup, pop-up twin") << "mnuPrintSetup_Pop" << true << false;
    QTest::newRow("Print Setup before any run") << "mnuPrintSetup" << false << false;
    QTest::newRow("Print, the service does not answer") << "mnuPrint" << true << true;
    QTest::newRow("Print Setup, the service does not answer") << "mnuPrintSetup" << false << true;
}

void ExportsTest::windowNoPrinter() {
    QFETCH(QString, command);
    QFETCH(bool, withResult);
    QFETCH(bool, silentService);
    // A silent service: a socket that takes connections and reads nothing, as
    // a hung print server does. Each window asks from a helper thread of its
    // own, which finds the service through CUPS_SERVER when it starts.
    QTemporaryDir dir;
    int silent = -1;
    const QByteArray socketPath = dir.filePath(QStringLiteral("silent.sock")).toLocal8Bit();
    const QByteArray before = qgetenv("CUPS_SERVER");
    if (silentService) {
        silent = ListeningSocket(socketPath);
        QVERIFY(silent >= 0);
        qputenv("CUPS_SERVER", socketPath);
    }
    const auto restore = qScopeGuard([&] {
        if (!silentService) return;
        ::close(silent);  // the helper's calls fail now, and it ends
        if (before.isNull())
            qunsetenv("CUPS_SERVER");
        else
            qputenv("CUPS_SERVER", before);
    });
    if (!silentService) QVERIFY(!kaldrome::Utilities::PrinterInstalled());
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    if (withResult) QVERIFY(RunWindow(w, 50));
    const int flags = w.Ui().dlgDialogo->Flags;
    const std::string plain = w.State().PlainText;

    auto* item = w.findChild<QAction*>(command);
    QVERIFY(item != nullptr);
    QVERIFY(item->isEnabled());
    const QString expected = silentService ? kaldrome::NoAnswerText() : NoPrinterText;
    DialogDriver driver(3000, 20000);
    driver.Then(AnswerBox(
        [&](QMessageBox* box, QStringList& f) {
            Check(f, box->windowTitle() == QStringLiteral("Kaldrome"), "title");
            Check(f, box->text() == expected, "text " + box->text());
            Check(f, box->icon() == QMessageBox::Critical, "stop icon");
            Check(f, box->standardButtons() == QMessageBox::Ok, "one OK button");
        },
        QMessageBox::Ok));
    QElapsedTimer clock;
    clock.start();
    item->trigger();
    GUITEST_VERIFY_DIALOGS(driver);
    // The message comes after the wait, not before.
    if (silentService) QVERIFY(clock.elapsed() >= 4900);
    // Nothing else happened: no printer chosen, no settings changed, nothing built.
    QVERIFY(!w.ChosenPrinter().has_value());
    QCOMPARE(w.Ui().dlgDialogo->Flags, flags);
    QCOMPARE(w.State().PlainText, plain);

    // Copy still works.
    if (withResult) {
        w.Ui().mnuCopy->trigger();
        QVERIFY(
            QGuiApplication::clipboard()->text().startsWith(QStringLiteral("50!=\r\n  0000030")));
    }
}

void ExportsTest::windowOutOfMemory_data() {
    // The large allocation that fails is a piece of the plain text as it is
    // made from the limbs; the clipboard's own copy (Qt's, from malloc) is held
    // to its limit by outOfMemory below.
    QTest::addColumn<QString>("command");
    QTest::newRow("Copy, making the plain text") << "copy";
    QTest::newRow("Create File, making the plain text") << "file";
}

void ExportsTest::windowOutOfMemory() {
    QFETCH(QString, command);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kaldrome3000.txt"));
    Form1 w(kaldrome::NumberSeparators{});
    QVERIFY(guitest::ShowActive(&w));
    QVERIFY(RunWindow(w, 3000));  // a plain text of some 12 KB
    const QString screen = guitest::ResultShown(w);
    const QString digits = w.Ui().lblDigitos->text();
    QClipboard* cb = QGuiApplication::clipboard();
    cb->setText(QStringLiteral("untouched"));
    constexpr std::size_t Large = 8192;

    DialogDriver driver;
    if (command == "file") {
        driver.Then([&](QWidget* dlg, QStringList& f) {
            failing_new::Arm(Large, SIZE_MAX);  // once the dialog is done with
            TypeAndSave(path)(dlg, f);
        });
    } else {
        failing_new::Arm(Large, SIZE_MAX);
    }
    // Create File names the file it could not write.
    const QString told = command == "copy"
                             ? kaldrome::OutOfMemoryText()
                             : kaldrome::FileErrorText(path, kaldrome::OutOfMemoryText());
    driver.Then(AnswerBox(
        [&told](QMessageBox* box, QStringList& f) {
            Check(f, box->windowTitle() == QStringLiteral("Kaldrome"), "title");
            Check(f, box->text() == told, "text " + box->text());
            Check(f, box->icon() == QMessageBox::Critical, "stop icon");
        },
        QMessageBox::Ok));
    (command == "copy" ? w.Ui().mnuCopy : w.Ui().mnuCreateFile)->trigger();
    const bool armedStill = failing_new::Armed();
    failing_new::Disarm();
    GUITEST_VERIFY_DIALOGS(driver);
    QVERIFY2(!armedStill, "the allocation meant to fail was never made");
    // Nothing exported, the window as it was, and the next export works.
    QCOMPARE(cb->text(), QStringLiteral("untouched"));
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(guitest::ResultShown(w), screen);
    QCOMPARE(w.Ui().lblDigitos->text(), digits);
    w.Ui().mnuCopy->trigger();
    QVERIFY(cb->text().startsWith(QStringLiteral("3000!=\r\n")));
}

void ExportsTest::outOfMemory_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("headroomMb");  // address space left beside the document
    QTest::addColumn<bool>("fails");
    QTest::newRow("clipboard, room for the text") << "clipboard" << 512 << false;
    QTest::newRow("clipboard, no room for its copy") << "clipboard" << 64 << true;
    // Qt's PDF writer takes some 32 MB for a moment whenever it closes a page;
    // the printout keeps 32 MB back to close its document after a failure.
    QTest::newRow("print, room for the printout") << "print" << 128 << false;
    QTest::newRow("print, no room to close a page") << "print" << 48 << true;
    QTest::newRow("print, no room to begin") << "print" << 8 << true;
    // The save dialog on a screen takes some megabytes: its folder reader's
    // thread, its picture. Qt cannot paint a window it found no memory for.
    QTest::newRow("save dialog, room for it") << "save dialog" << 96 << false;
    QTest::newRow("save dialog, no room to show it") << "save dialog" << 2 << true;
}

void ExportsTest::outOfMemory() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("an address-space limit and the address sanitizer's shadow memory do not mix");
#endif
    QFETCH(QString, what);
    QFETCH(int, headroomMb);
    QFETCH(bool, fails);
    const guitest::ChildResult child =
        guitest::RunSelf(QStringLiteral("out-of-memory"), {what, QString::number(headroomMb)},
                         {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}});
    QVERIFY2(child.finished && child.exitStatus == QProcess::NormalExit && child.exitCode == 0,
             child.output.constData());
    const QByteArray expected =
        fails ? "failed: " + kaldrome::OutOfMemoryText().toUtf8() : QByteArray("done");
    QVERIFY2(child.output.contains(expected), child.output.constData());
}

// The child of outOfMemory: a large document, then the export under an
// address-space limit of what is in use now and headroom beside it.
int OutOfMemoryChild(const QString& what, int headroomMb) {
    // Clipboard: 64 MB of text; its UTF-16 copy needs 128 MB. Print: some 100
    // pages, quick enough that no progress dialog shows (Qt's painting waits for
    // worker threads, which no longer start under such a limit).
    // Save dialog: the window with 1000!, whose Create File opens the dialog.
    const std::string document = what == "clipboard" ? std::string(64 << 20, '7')
                                 : what == "print"   ? LinesOfGroups(8000)
                                                     : std::string();
    std::optional<Form1> window;
    if (what == "save dialog") {
        window.emplace(kaldrome::NumberSeparators{});
        if (!guitest::ShowActive(&*window) || !RunWindow(*window, 1000)) return 4;
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 2;
    rlim_t used = 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            used = line.mid(7).trimmed().split(' ')[0].toULongLong() << 10;
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    const rlimit lower{used + (rlim_t(headroomMb) << 20), limit.rlim_max};
    if (used == 0 || setrlimit(RLIMIT_AS, &lower) != 0) return 3;
    const QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF());
    // The save dialog is closed, or the message read and answered.
    const auto saving = [&]() -> kaldrome::Outcome<void> {
        QString told;
        DialogDriver driver;
        driver.Then([&](QWidget* dialog, QStringList&) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) told = box->text();
            QMetaObject::invokeMethod(qobject_cast<QDialog*>(dialog), &QDialog::reject,
                                      Qt::QueuedConnection);
        });
        window->Ui().mnuCreateFile->trigger();
        if (!driver.Finish())
            return kaldrome::Failure{"no dialog: " + driver.Report().toStdString()};
        if (!told.isEmpty()) return kaldrome::Failure{told.toStdString()};
        return {};
    };
    const kaldrome::Outcome<void> outcome =
        what == "clipboard"     ? kaldrome::PutOnClipboard(QGuiApplication::clipboard(), document)
        : what == "save dialog" ? saving()
                                : [&]() -> kaldrome::Outcome<void> {
        const auto printed = kaldrome::PrintWithProgress(
            nullptr, a4, QStringLiteral("Kaldrome7"), document,
            [](const QByteArray&) -> kaldrome::Outcome<void> { return {}; });
        if (!printed.Ok()) return printed.Error();
        return {};
    }();
    setrlimit(RLIMIT_AS, &limit);
    const QString failure = guitest::FailureOf(outcome);
    std::printf("%s\n", failure.isEmpty() ? "done" : qPrintable("failed: " + failure));
    return 0;
}

// The child of fileInReadOnlyFolder: rewrites path as nobody; "ended" is sent
// SIGTERM in the middle of the write.
int RewriteChild(const QString& path, const QString& how) {
    const std::string document = DocumentFor(10);
    const std::string_view text(document);
    const kaldrome::DocumentSource source{
        [text, how](const std::function<bool(std::string_view)>& sink) {
            if (!sink(text.substr(0, text.size() / 2))) return false;
            if (how == "ended") raise(SIGTERM);
            return sink(text.substr(text.size() / 2));
        },
        document.size()};
    if (geteuid() == 0 && seteuid(65534) != 0) return 3;
    const QString failure = guitest::FailureOf(kaldrome::WriteDocumentFile(path, source));
    std::printf("returned: %s\n", qPrintable(failure));
    std::fflush(stdout);  // before a leak check at exit may end the child
    return 0;
}

int main(int argc, char** argv) {
    // Needs no window and makes no folder: it may end by a signal.
    if (guitest::ChildRole() == QStringLiteral("rewrite") && argc == 3)
        return RewriteChild(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    // The disk-full cases mount file systems of their own, seen by this program
    // only; root may make it a mount namespace of its own. Not in a chroot, where
    // "/" is no mount: there the namespace would leave /proc/self/exe unreachable,
    // and the children of RunSelf could not be started.
    struct statx root {};
    const bool rootIsMount = statx(AT_FDCWD, "/", 0, STATX_BASIC_STATS, &root) == 0 &&
                             (root.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    PrivateMounts = geteuid() == 0 && rootIsMount && unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    // No print server: the tests must not depend on the printers of the machine.
    qputenv("CUPS_SERVER", "/nonexistent/kaldrome-tests/cups.sock");
    // The user's settings live in a folder of the test's own, planted with a
    // file dialog state before any dialog opens.
    PlantedSettings planted;
    Planted = &planted;
    if (!planted.config.isValid() || !planted.trap.isValid() ||
        !WriteBytes(planted.file(), planted.planted()))
        return 2;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(planted.config.path()));
    QApplication app(argc, argv);
    if (guitest::ChildRole() == QStringLiteral("out-of-memory"))
        return OutOfMemoryChild(app.arguments().value(1), app.arguments().value(2).toInt());
    ExportsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_exports.moc"

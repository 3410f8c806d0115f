#include "commands/help_viewer.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "base/outcome.h"

// Where the installed help lies, relative to the installed program.
#ifndef KALDROME_HELP_FROM_BINDIR
#error "KALDROME_HELP_FROM_BINDIR must be defined by the build (e.g. ../share/kaldrome)"
#endif

namespace kaldrome {

namespace {

// A real help file is a few tens of kilobytes; anything far larger is not one.
constexpr qint64 MaxHelpFileBytes = 16 * 1024 * 1024;

// The application object's property that holds its help file.
constexpr char HelpFileProperty[] = "kaldromeHelpFile";

// The size the viewer opens with where the screen has room for it.
constexpr QSize PreferredSize(620, 660);

QString DefaultTitle() {
    return QStringLiteral("Kaldrome Help");
}

Failure Told(const QString& message) {
    return Failure{message.toStdString()};
}

// What the system said about a failed call, in its own words.
QString SystemSays() {
    return qt_error_string(errno);
}

// Reads at most MaxHelpFileBytes + 1 bytes of a file that is open; a null array
// when reading failed (errno tells why).
QByteArray ReadUpToLimit(int fd) {
    QByteArray bytes;
    char chunk[64 * 1024];
    while (bytes.size() <= MaxHelpFileBytes) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return QByteArray();
        if (n == 0) break;
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    if (bytes.isNull()) bytes = QByteArray("");  // read, and empty
    return bytes;
}

// Reads the help file as UTF-8 HTML. A failure says what a user can do about it.
Outcome<QString> ReadHelpFile(const QString& path) {
    const QString shown = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty()) {
        return Told(QStringLiteral("No help file was named, so there is nothing to show."));
    }
    const QString notFound = QStringLiteral(
                                 "The help file could not be found.\n\n"
                                 "Kaldrome looks for it here:\n%1\n\n"
                                 "The help file is installed together with the Kaldrome program. "
                                 "Installing Kaldrome again puts it back.")
                                 .arg(shown);
    if (!QFileInfo::exists(path)) return Told(notFound);
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may never
    // come; the kind of file is checked on what was opened, not on the name.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return Told(notFound);
        return Told(QStringLiteral("The help file could not be opened:\n%1\n\nThe system says: %2.")
                        .arg(shown, SystemSays()));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const QString why = SystemSays();
        ::close(fd);
        return Told(QStringLiteral("The help file could not be read:\n%1\n\nThe system says: %2.")
                        .arg(shown, why));
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Told(QStringLiteral("The help file could not be read:\n%1\nis a folder, not a file.")
                        .arg(shown));
    }
    if (!S_ISREG(info.st_mode)) {
        // A device or a pipe: it could block, or never end.
        ::close(fd);
        return Told(
            QStringLiteral("The help file could not be read:\n%1\nis not a regular file.\n\n"
                           "Installing Kaldrome again puts the right file back.")
                .arg(shown));
    }
    // The size is checked on what is read as well: the file may grow meanwhile.
    const QByteArray bytes = info.st_size > MaxHelpFileBytes ? QByteArray() : ReadUpToLimit(fd);
    const QString why = SystemSays();
    ::close(fd);
    if (info.st_size > MaxHelpFileBytes || bytes.size() > MaxHelpFileBytes) {
        return Told(QStringLiteral("The file\n%1\nis far too large to be the Kaldrome help file.")
                        .arg(shown));
    }
    if (bytes.isNull()) {
        return Told(QStringLiteral("The help file could not be read to the end:\n%1\n\n"
                                   "The system says: %2.")
                        .arg(shown, why));
    }
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    const bool hasContents =
        text.contains(QStringLiteral("name=\"%1\"").arg(QLatin1String(HelpContentsAnchor))) ||
        text.contains(QStringLiteral("id=\"%1\"").arg(QLatin1String(HelpContentsAnchor)));
    if (decode.hasError() || !hasContents) {
        return Told(QStringLiteral("The file\n%1\nis not a Kaldrome help file, or it is damaged: "
                                   "it has no contents page.\n\n"
                                   "Installing Kaldrome again puts the right file back.")
                        .arg(shown));
    }
    return text;
}

}  // namespace

// Serves the help file from memory: the text shown is exactly the text that was
// checked, and links cannot pull other files into the viewer.
class HelpBrowser : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;

    void SetHelpText(const QUrl& url, const QString& html) {
        url_ = url;
        html_ = html;
    }

    QVariant loadResource(int type, const QUrl& name) override {
        if (type == QTextDocument::HtmlResource) {
            if (name.adjusted(QUrl::RemoveFragment) == url_) return html_;
            return {};
        }
        return QTextBrowser::loadResource(type, name);
    }

  private:
    QUrl url_;
    QString html_;
};

QString HelpFileName() {
    return QStringLiteral("kaldrome.hlp");
}

QString HelpFileFor(const QString& programDir) {
    const QString beside = programDir + '/' + HelpFileName();
    if (QFileInfo::exists(beside)) return beside;
    // Installed, the program is in bin/ and its help in share/kaldrome/. When the
    // file is missing, the message names the place that fits the program's tree.
    const QDir installedDir(programDir + QStringLiteral("/" KALDROME_HELP_FROM_BINDIR));
    const QString installed = QDir::cleanPath(installedDir.filePath(HelpFileName()));
    if (QFileInfo::exists(installed)) return installed;
    return QFileInfo::exists(QDir::cleanPath(installedDir.filePath(QStringLiteral(".."))))
               ? installed
               : beside;
}

QString HelpFilePath() {
    return HelpFileFor(QCoreApplication::applicationDirPath());
}

void SetApplicationHelpFile(const QString& path) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->setProperty(HelpFileProperty, path);
}

QString ApplicationHelpFile() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app ? app->property(HelpFileProperty).toString() : QString();
}

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    // A screen reader would take a plain widget for a filler: it is a window.
    static std::once_flag windowRole;
    std::call_once(windowRole, [] {
        QAccessible::installFactory([](const QString& name, QObject* o) -> QAccessibleInterface* {
            if (name != QLatin1String("kaldrome::HelpViewer")) return nullptr;
            return new QAccessibleWidget(static_cast<QWidget*>(o), QAccessible::Window);
        });
    });
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(DefaultTitle());
    // The viewer runs on its own: it must not keep the program alive after the
    // main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(PreferredSize);

    cmdContents_ = new QPushButton(QStringLiteral("&Contents"), this);
    cmdContents_->setObjectName(QStringLiteral("cmdContents"));
    cmdBack_ = new QPushButton(QStringLiteral("&Back"), this);
    cmdBack_->setObjectName(QStringLiteral("cmdBack"));
    cmdForward_ = new QPushButton(QStringLiteral("&Forward"), this);
    cmdForward_->setObjectName(QStringLiteral("cmdForward"));
    for (QPushButton* b : {cmdContents_, cmdBack_, cmdForward_}) b->setAutoDefault(false);

    browser_ = new HelpBrowser(this);
    browser_->setObjectName(QStringLiteral("browser"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdContents_);
    buttons->addWidget(cmdBack_);
    buttons->addWidget(cmdForward_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_, 1);

    connect(cmdContents_, &QPushButton::clicked, this, &HelpViewer::ShowContents);
    connect(cmdBack_, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(cmdForward_, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::historyChanged, this, &HelpViewer::UpdateButtons);
    // Following a link leaves the link selected as the keyboard's focus mark;
    // the history would keep that mark with the topic, and going Forward to the
    // topic would then scroll back to the link. The mark goes before the jump.
    connect(browser_, &QTextBrowser::anchorClicked, this, [this] {
        const int x = browser_->horizontalScrollBar()->value();
        const int y = browser_->verticalScrollBar()->value();
        QTextCursor cursor = browser_->textCursor();
        cursor.clearSelection();
        browser_->setTextCursor(cursor);
        browser_->horizontalScrollBar()->setValue(x);
        browser_->verticalScrollBar()->setValue(y);
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

QTextBrowser* HelpViewer::Browser() const {
    return browser_;
}

void HelpViewer::Open(const QString& helpFile, int command) {
    Load(helpFile, command);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) FitToScreen();
    show();
    raise();
    activateWindow();
}

void HelpViewer::ShowContents() {
    Load(helpFile_, HelpContents);
}

void HelpViewer::Load(const QString& helpFile, int /*command*/) {
    helpFile_ = helpFile;
    const Outcome<QString> read = ReadHelpFile(helpFile);
    if (!read.Ok()) {
        loadError_ = QString::fromStdString(read.Error().message);
        ShowLoadError(loadError_);
        return;
    }
    loadError_.clear();
    const QString& html = read.Value();
    const QUrl url = QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath());
    browser_->SetHelpText(url, html);
    // The file may have changed since the last request; clearing the view makes
    // the browser take the new text even though the address is the same.
    browser_->clear();
    browser_->clearHistory();
    QUrl contents = url;
    contents.setFragment(QLatin1String(HelpContentsAnchor));
    browser_->setSource(contents, QTextDocument::HtmlResource);
    browser_->clearHistory();
    const QString title = browser_->documentTitle().trimmed();
    setWindowTitle(title.isEmpty() ? DefaultTitle() : title);
    UpdateButtons();
}

void HelpViewer::ShowLoadError(const QString& message) {
    browser_->SetHelpText(QUrl(), QString());
    browser_->clearHistory();
    // The text box types new text in the format at its cursor, which after a
    // followed link is the link's: the message is put in with no format at all.
    browser_->clear();
    browser_->setTextCursor(QTextCursor(browser_->document()));
    browser_->setCurrentCharFormat(QTextCharFormat());
    browser_->setPlainText(message);
    setWindowTitle(DefaultTitle());
    UpdateButtons();
}

QMargins HelpViewer::FrameMargins() const {
    // The window's own frame once it has one; before that, the frame the
    // window manager gives the program's other windows.
    if (const QWindow* own = windowHandle(); own && !own->frameMargins().isNull())
        return own->frameMargins();
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || !w->isVisible() || !w->isWindow()) continue;
        const QRect outer = w->frameGeometry();
        const QRect inner = w->geometry();
        const QMargins m(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
        if (!m.isNull()) return m;
    }
    return {};
}

QScreen* HelpViewer::TargetScreen() const {
    // The screen of the window the request came from, where the user looks.
    if (const QWidget* active = QApplication::activeWindow(); active && active != this)
        return active->screen();
    return screen() ? screen() : QGuiApplication::primaryScreen();
}

void HelpViewer::FitToScreen() {
    QScreen* target = TargetScreen();
    if (!target) return;
    if (!windowHandle()) create();
    const QRect room = target->availableGeometry();
    const QMargins frame = FrameMargins();
    const QSize most(room.width() - frame.left() - frame.right(),
                     room.height() - frame.top() - frame.bottom());
    const QSize size = PreferredSize.boundedTo(most).expandedTo(minimumSizeHint().boundedTo(most));
    resize(size);
    // move() places the frame; centred, as the program's other windows are.
    const QSize outer(size.width() + frame.left() + frame.right(),
                      size.height() + frame.top() + frame.bottom());
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, outer, room).topLeft());
    fitWhenFramed_ = frame.isNull();
}

bool HelpViewer::event(QEvent* event) {
    // Under a window manager the frame is known only once the window is on the
    // screen: then the window is made to fit again, frame included.
    if (event->type() == QEvent::UpdateRequest || event->type() == QEvent::Show) {
        const QWindow* handle = windowHandle();
        if (fitWhenFramed_ && handle && handle->isExposed() && !handle->frameMargins().isNull()) {
            fitWhenFramed_ = false;
            FitToScreen();
        }
    }
    return QWidget::event(event);
}

void HelpViewer::UpdateButtons() {
    cmdBack_->setEnabled(browser_->isBackwardAvailable());
    cmdForward_->setEnabled(browser_->isForwardAvailable());
}

}  // namespace kaldrome

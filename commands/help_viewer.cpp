#include "commands/help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

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

QString DefaultTitle() {
    return QStringLiteral("Kaldrome Help");
}

Failure Told(const QString& message) {
    return Failure{message.toStdString()};
}

// Reads the help file as UTF-8 HTML. A failure says what a user can do about it.
Outcome<QString> ReadHelpFile(const QString& path) {
    const QString shown = QFileInfo(path).absoluteFilePath();
    if (path.isEmpty()) {
        return Told(QStringLiteral("No help file was named, so there is nothing to show."));
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return Told(QStringLiteral("The help file could not be found.\n\n"
                                   "Kaldrome looks for it here:\n%1\n\n"
                                   "The help file is installed together with the Kaldrome program. "
                                   "Installing Kaldrome again puts it back.")
                        .arg(shown));
    }
    if (info.isDir()) {
        return Told(QStringLiteral("The help file could not be read:\n%1\nis a folder, not a file.")
                        .arg(shown));
    }
    if (info.size() > MaxHelpFileBytes) {
        return Told(QStringLiteral("The file\n%1\nis far too large to be the Kaldrome help file.")
                        .arg(shown));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Told(QStringLiteral("The help file could not be opened:\n%1\n\nThe system says: %2.")
                        .arg(shown, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Told(QStringLiteral("The help file could not be read to the end:\n%1\n\n"
                                   "The system says: %2.")
                        .arg(shown, file.errorString()));
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
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(DefaultTitle());
    // The viewer runs on its own: it must not keep the program alive after the
    // main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(620, 660);

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
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

QTextBrowser* HelpViewer::Browser() const {
    return browser_;
}

void HelpViewer::Open(const QString& helpFile, int command) {
    Load(helpFile, command);
    setWindowState(windowState() & ~Qt::WindowMinimized);
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
    browser_->setPlainText(message);
    setWindowTitle(DefaultTitle());
    UpdateButtons();
}

void HelpViewer::UpdateButtons() {
    cmdBack_->setEnabled(browser_->isBackwardAvailable());
    cmdForward_->setEnabled(browser_->isForwardAvailable());
}

}  // namespace kaldrome

#include "commands/common_dialog.h"

#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QSettings>
#include <QWidget>

#include "commands/help_viewer.h"

namespace kaldrome {

namespace {

// Icons and type names by the kind of entry and its name alone. Qt's own
// provider reads a file's first bytes to tell its type, and a read can block
// for ever (/proc/kmsg as root, a device); the dialog would then never answer.
// Asked from the model's worker thread too, so everything is made up front.
class KindIconProvider : public QAbstractFileIconProvider {
  public:
    KindIconProvider() {
        const QFileIconProvider style;
        for (int type = Computer; type <= File; ++type)
            icons_[type] = style.icon(static_cast<IconType>(type));
    }
    QIcon icon(IconType type) const override { return icons_[type]; }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return icons_[Drive];
        return icons_[info.isDir() ? Folder : File];
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return CommonDialog::tr("Folder");
        const QMimeType mime =
            mimes_.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
        return mime.isDefault() ? CommonDialog::tr("File") : mime.comment();
    }

  private:
    QIcon icons_[File + 1];
    QMimeDatabase mimes_;
};

// Qt's file dialog keeps its history, last folder and view in Qt's own
// settings file and reads them back next time. This program keeps no
// settings, so Qt's settings of this process go where nothing can be made
// or read (a path under a device).
void KeepNoSettings() {
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null");
        for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            for (const auto scope : {QSettings::UserScope, QSettings::SystemScope})
                QSettings::setPath(format, scope, nowhere);
        return true;
    }();
    (void)done;
}

}  // namespace

CommonDialog::CommonDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

CommonDialog::~CommonDialog() {
    delete helpViewer_;  // a top-level window: nothing else deletes it
}

QStringList CommonDialog::NameFilters(const QString& filter) {
    // Description and pattern alternate; Qt's name filters carry the pattern
    // in the description, so the pattern entries are only checked for presence.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString description = parts.at(i).trimmed();
        if (description.isEmpty()) continue;
        const QString pattern = i + 1 < parts.size() ? parts.at(i + 1).trimmed() : QString();
        // A description without the pattern in brackets would filter nothing in Qt.
        if (!pattern.isEmpty() && !description.contains(QLatin1Char('(')))
            description += QStringLiteral(" (%1)").arg(
                QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' ')));
        filters << description;
    }
    return filters;
}

QString CommonDialog::PrinterDialogTitle(int flags) {
    return (flags & PrintSetupForm) ? tr("Print Setup") : tr("Print");
}

bool CommonDialog::ShowSave() {
    KeepNoSettings();
    KindIconProvider icons;  // outlives the dialog and its model's worker
    // Qt's own widget dialog: the same on every desktop, and drivable by tests.
    QFileDialog dialog(owner_, DialogTitle);
    dialog.setIconProvider(&icons);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(Flags & OverwritePrompt));
    // No default suffix: a name typed without an extension is used as typed.
    dialog.setDefaultSuffix(QString());

    const QStringList filters = NameFilters(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (FilterIndex >= 1 && FilterIndex <= filters.size())
            dialog.selectNameFilter(filters.at(FilterIndex - 1));
    }
    if (!FileName.isEmpty()) dialog.selectFile(FileName);

    if (dialog.exec() == QDialog::Accepted) {
        const QStringList chosen = dialog.selectedFiles();
        if (!chosen.isEmpty()) {
            FileName = chosen.first();
            return true;
        }
    }
    if (CancelError) return false;
    FileName.clear();
    return true;
}

bool CommonDialog::ShowPrinter(const QList<PrinterOffer>& printers, PrinterChoice& choice) {
    return ChoosePrinter(owner_, PrinterDialogTitle(Flags), printers, choice);
}

HelpViewer* CommonDialog::HelpWindow() const {
    return helpViewer_;
}

void CommonDialog::ShowHelp() {
    // One viewer per dialog object, opened again (and raised) on every request.
    if (!helpViewer_) helpViewer_ = new HelpViewer;
    helpViewer_->Open(HelpFile, HelpCommand);
}

}  // namespace kaldrome

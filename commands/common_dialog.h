// dlgDialogo: the window's one common-dialog object.
//
// Its settings persist between uses, so every command sets what it relies on
// right before showing it: Create File the save settings, Print Setup its
// flags, Help the help file and command. Behind it stand Qt's own (non-native)
// file dialog for saving and the program's own Print Setup form.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "commands/print_setup.h"

class QWidget;

namespace kaldrome {

class HelpViewer;

class CommonDialog : public QObject {
    Q_OBJECT

  public:
    // Option flags.
    static constexpr int OverwritePrompt = 2;  // save: ask before an existing file is chosen
    static constexpr int HideReadOnly = 4;     // save: no read-only box (Qt's save dialog has none)
    static constexpr int PrintSetupForm = 64;  // printer: printer choice and page settings only

    explicit CommonDialog(QWidget* owner);
    ~CommonDialog() override;

    // Save-dialog settings.
    QString DialogTitle;
    QString FileName;  // in: proposed name; out: the chosen full path
    int Flags = 0;
    QString Filter;  // "Description|pattern|Description|pattern|..."
    int FilterIndex = 1;
    bool CancelError = false;  // cancelling makes ShowSave return false

    // Help settings.
    QString HelpFile;
    int HelpCommand = 0;

    // Shows the save dialog. On acceptance FileName becomes the chosen full path
    // and the result is true. On cancel: false when CancelError is set; otherwise
    // FileName becomes empty and the result is true.
    bool ShowSave();
    // Shows the Print Setup form (printer choice and page settings) with the
    // printers on offer, opening on choice; true when accepted, and only then
    // is choice changed.
    bool ShowPrinter(const QList<PrinterOffer>& printers, PrinterChoice& choice);
    // Opens the help viewer on HelpFile with HelpCommand; returns at once.
    void ShowHelp();
    // The help viewer while it exists.
    HelpViewer* HelpWindow() const;

    // Filter text to Qt name filters: "Text (*.txt)|*.txt" gives "Text (*.txt)".
    static QStringList NameFilters(const QString& filter);

    // Window title of the printer dialog in its two forms.
    static QString PrinterDialogTitle(int flags);

  private:
    QWidget* owner_;
    QPointer<HelpViewer> helpViewer_;
};

}  // namespace kaldrome

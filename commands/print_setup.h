// The Print Setup form: which printer Print uses and on which paper, nothing
// else (no copies, no pages, no order: Print always prints the whole result once);
// and what Print and Print Setup ask the print service.
#pragma once

#include <QDialog>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QString>
#include <optional>

#include "base/outcome.h"

class QComboBox;
class QLabel;
class QRadioButton;

namespace kaldrome {

// A printer the form offers, as the print service describes it.
struct PrinterOffer {
    QString name;
    QString status;    // "Ready", "Printing", "Stopped"
    QString model;     // make and model
    QString location;  // where it stands
    QString comment;
    QList<QPageSize> pageSizes;
    QPageSize defaultPageSize;
};

// What Print Setup decides.
struct PrinterChoice {
    QString name;
    QPageSize pageSize;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
};

// The questions below ask the print service, which may take long or never
// answer: they belong on the print service's helper thread (PrintService).

// The printers of the system's print service.
QList<PrinterOffer> AvailablePrinters();

// What Print Setup shows. chosen: what Print Setup chose before, if anything.
struct PrintSetupFacts {
    bool installed = false;  // the service reports a default printer
    QList<PrinterOffer> printers;
    PrinterChoice current;    // where Print would print now
    bool choiceKept = false;  // chosen still exists, and current is it
};
PrintSetupFacts LookUpPrintSetup(const std::optional<PrinterChoice>& chosen);

// Where Print prints: the printer chosen in Print Setup while it exists,
// otherwise the default printer with its own paper.
struct PrintTarget {
    bool installed = false;  // the service reports a default printer
    bool choiceKept = false;
    QString queue;
    QPageLayout layout;   // the paper, its orientation and the printer's margins
    Outcome<void> ready;  // the queue takes jobs
};
PrintTarget LookUpPrintTarget(const std::optional<PrinterChoice>& chosen);

class PrintSetupDialog : public QDialog {
    Q_OBJECT

  public:
    // Opens on current; a printer or paper size not on offer gives way to the
    // first printer and that printer's default paper.
    PrintSetupDialog(const QList<PrinterOffer>& printers, const PrinterChoice& current,
                     QWidget* parent = nullptr);

    // What the form shows now.
    PrinterChoice Choice() const;

  private:
    void ShowPrinter(int index, const QPageSize& keep);

    QList<PrinterOffer> printers_;
    QComboBox* name_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* model_ = nullptr;
    QLabel* location_ = nullptr;
    QLabel* comment_ = nullptr;
    QComboBox* size_ = nullptr;
    QRadioButton* portrait_ = nullptr;
    QRadioButton* landscape_ = nullptr;
};

// Shows the form over owner with title, starting from choice. Only when the
// user accepts does choice change, and the result is true; cancelling
// changes nothing.
bool ChoosePrinter(QWidget* owner, const QString& title, const QList<PrinterOffer>& printers,
                   PrinterChoice& choice);

}  // namespace kaldrome

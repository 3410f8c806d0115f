// The Print Setup form: which printer Print uses and on which paper, nothing
// else (no copies, no pages, no order: Print always prints the whole result once).
#pragma once

#include <QDialog>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QString>

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

// The printers of the system's print service.
QList<PrinterOffer> AvailablePrinters();

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

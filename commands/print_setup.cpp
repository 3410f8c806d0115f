#include "commands/print_setup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "commands/exports.h"
#include "commands/print_queue.h"

namespace kaldrome {

namespace {

QString StatusText(QPrinter::PrinterState state) {
    switch (state) {
        case QPrinter::Idle:
            return PrintSetupDialog::tr("Ready");
        case QPrinter::Active:
            return PrintSetupDialog::tr("Printing");
        case QPrinter::Aborted:
            return PrintSetupDialog::tr("Stopped");
        case QPrinter::Error:
            break;
    }
    return PrintSetupDialog::tr("Not available");
}

QLabel* ValueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);  // names come from outside
    return label;
}

// The printer chosen in Print Setup while the service still has it; otherwise
// the default printer.
struct PrinterInUse {
    QPrinterInfo info;
    bool choiceKept = false;
};

PrinterInUse FindPrinter(const std::optional<PrinterChoice>& chosen) {
    if (chosen) {
        QPrinterInfo info = QPrinterInfo::printerInfo(chosen->name);
        if (!info.isNull()) return {info, true};
    }
    return {QPrinterInfo::defaultPrinter(), false};
}

}  // namespace

PrintSetupFacts LookUpPrintSetup(const std::optional<PrinterChoice>& chosen) {
    PrintSetupFacts facts;
    facts.installed = Utilities::PrinterInstalled();
    if (!facts.installed) return facts;
    const PrinterInUse printer = FindPrinter(chosen);
    facts.choiceKept = printer.choiceKept;
    facts.current = printer.choiceKept
                        ? *chosen
                        : PrinterChoice{printer.info.printerName(), printer.info.defaultPageSize()};
    facts.printers = AvailablePrinters();
    return facts;
}

PrintTarget LookUpPrintTarget(const std::optional<PrinterChoice>& chosen) {
    PrintTarget target;
    target.installed = Utilities::PrinterInstalled();
    if (!target.installed) return target;
    const PrinterInUse printer = FindPrinter(chosen);
    target.choiceKept = printer.choiceKept;
    target.queue = printer.info.printerName();
    // The printer's own margins for the paper come from Qt's printer.
    QPrinter device(printer.info, QPrinter::HighResolution);
    if (printer.choiceKept) {
        if (chosen->pageSize.isValid()) device.setPageSize(chosen->pageSize);
        device.setPageOrientation(chosen->orientation);
    }
    target.layout = device.pageLayout();
    // A queue that refuses jobs is told before any time goes into the printout.
    target.ready = CheckQueue(target.queue);
    return target;
}

QList<PrinterOffer> AvailablePrinters() {
    QList<PrinterOffer> offers;
    for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) {
        offers.append({info.printerName(), StatusText(info.state()), info.makeAndModel(),
                       info.location(), info.description(), info.supportedPageSizes(),
                       info.defaultPageSize()});
    }
    return offers;
}

PrintSetupDialog::PrintSetupDialog(const QList<PrinterOffer>& printers,
                                   const PrinterChoice& current, QWidget* parent)
    : QDialog(parent), printers_(printers) {
    auto* printerBox = new QGroupBox(tr("Printer"), this);
    name_ = new QComboBox(printerBox);
    name_->setObjectName(QStringLiteral("printerName"));
    for (const PrinterOffer& printer : printers_) name_->addItem(printer.name);
    status_ = ValueLabel(printerBox);
    model_ = ValueLabel(printerBox);
    location_ = ValueLabel(printerBox);
    comment_ = ValueLabel(printerBox);
    auto* printerForm = new QFormLayout(printerBox);
    auto* nameLabel = new QLabel(tr("&Name:"), printerBox);
    nameLabel->setBuddy(name_);
    printerForm->addRow(nameLabel, name_);
    printerForm->addRow(tr("Status:"), status_);
    printerForm->addRow(tr("Type:"), model_);
    printerForm->addRow(tr("Where:"), location_);
    printerForm->addRow(tr("Comment:"), comment_);

    auto* paperBox = new QGroupBox(tr("Paper"), this);
    size_ = new QComboBox(paperBox);
    size_->setObjectName(QStringLiteral("paperSize"));
    auto* paperForm = new QFormLayout(paperBox);
    auto* sizeLabel = new QLabel(tr("Si&ze:"), paperBox);
    sizeLabel->setBuddy(size_);
    paperForm->addRow(sizeLabel, size_);

    auto* orientationBox = new QGroupBox(tr("Orientation"), this);
    portrait_ = new QRadioButton(tr("P&ortrait"), orientationBox);
    portrait_->setObjectName(QStringLiteral("portrait"));
    landscape_ = new QRadioButton(tr("L&andscape"), orientationBox);
    landscape_->setObjectName(QStringLiteral("landscape"));
    auto* orientationColumn = new QVBoxLayout(orientationBox);
    orientationColumn->addWidget(portrait_);
    orientationColumn->addWidget(landscape_);
    (current.orientation == QPageLayout::Landscape ? landscape_ : portrait_)->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!printers_.isEmpty());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pageRow = new QHBoxLayout;
    pageRow->addWidget(paperBox, 1);
    pageRow->addWidget(orientationBox);
    auto* column = new QVBoxLayout(this);
    column->addWidget(printerBox);
    column->addLayout(pageRow);
    column->addWidget(buttons);

    const int index = std::max(0, name_->findText(current.name, Qt::MatchExactly));
    name_->setCurrentIndex(index);
    ShowPrinter(index, current.pageSize);
    connect(name_, &QComboBox::currentIndexChanged, this,
            [this](int i) { ShowPrinter(i, Choice().pageSize); });
}

void PrintSetupDialog::ShowPrinter(int index, const QPageSize& keep) {
    size_->clear();
    if (index < 0 || index >= printers_.size()) return;
    const PrinterOffer& printer = printers_.at(index);
    status_->setText(printer.status);
    model_->setText(printer.model);
    location_->setText(printer.location);
    comment_->setText(printer.comment);
    // The paper stays when the printer has it; otherwise the printer's own default.
    int selected = -1;
    int fallback = 0;
    for (const QPageSize& size : printer.pageSizes) {
        if (keep.isValid() && size.isEquivalentTo(keep)) selected = size_->count();
        if (printer.defaultPageSize.isValid() && size.isEquivalentTo(printer.defaultPageSize))
            fallback = size_->count();
        size_->addItem(size.name(), QVariant::fromValue(size));
    }
    size_->setCurrentIndex(selected >= 0 ? selected : fallback);
}

PrinterChoice PrintSetupDialog::Choice() const {
    PrinterChoice choice;
    choice.name = name_->currentText();
    choice.pageSize = size_->currentData().value<QPageSize>();
    choice.orientation = landscape_->isChecked() ? QPageLayout::Landscape : QPageLayout::Portrait;
    return choice;
}

bool ChoosePrinter(QWidget* owner, const QString& title, const QList<PrinterOffer>& printers,
                   PrinterChoice& choice) {
    PrintSetupDialog dialog(printers, choice, owner);
    dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted) return false;
    choice = dialog.Choice();
    return true;
}

}  // namespace kaldrome

// A finished result that fails its check: the window says so in its message
// box, shows nothing of it, offers nothing to export, and the next run works.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QtTest>
#include <functional>
#include <utility>

#include "gui/guitest.h"
#include "mainwindow/form1.h"
#include "mainwindow/percent_bar.h"

using kaldrome::Form1;
using kaldrome::RunState;

namespace {

using Damage = std::function<void(RunState&)>;

const std::pair<const char*, Damage> Damages[] = {
    {"lowest limb", [](RunState& rs) { rs.Limbs(1) += 1; }},
    {"top limb lost", [](RunState& rs) { rs.LimbCount -= 1; }},
    {"carry left standing",
     [](RunState& rs) {
         rs.Limbs(rs.LimbCount - 1) += kaldrome::LimbBase;
         rs.Limbs(rs.LimbCount) -= 1;
     }},
};

}  // namespace

class ResultCheckTest : public QObject {
    Q_OBJECT

  private slots:
    void failedCheckShowsNothing_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("damage");
        QTest::newRow("50!, lowest limb") << "50" << 0;
        QTest::newRow("3000!, top limb lost") << "3000" << 1;
        QTest::newRow("20000!, a carry left standing") << "20000" << 2;
    }

    void failedCheckShowsNothing() {
        QFETCH(QString, number);
        QFETCH(int, damage);
        guitest::DialogDriver dog;
        Form1 form;
        QVERIFY(guitest::ShowActive(&form));
        const auto& ui = form.Ui();

        // A result shown before stays out of the way of the failed one.
        guitest::EnterNumber(form, "10");
        QCOMPARE(guitest::ResultShown(form), QStringLiteral("  3628800"));

        QString told, title;
        dog.Then([&](QWidget* w, QStringList& failures) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr) {
                failures << "expected the message box";
                return;
            }
            told = box->text();
            title = box->windowTitle();
            // Nothing of the damaged result is on screen behind the message.
            if (!guitest::ResultShown(form).isEmpty()) failures << "the result box is not empty";
            QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
        });
        const int bells = form.WindowBell().Rings();
        form.SetLimbFaultForTests(Damages[damage].second);
        QApplication::clipboard()->setText("before");
        guitest::EnterNumber(form, number);
        GUITEST_VERIFY_DIALOGS(dog);

        QCOMPARE(title, QStringLiteral("Kaldrome"));
        QVERIFY2(told.contains(number + "!") && told.contains("not shown"), qPrintable(told));
        QVERIFY(!form.Running());
        QCOMPARE(guitest::ResultShown(form), QString());
        QCOMPARE(ui.lblDigitos->text(), QStringLiteral("Number of digits....."));
        QVERIFY(ui.picPercentBar->isHidden());
        QCOMPARE(ui.rtfResp->toolTip(), QString());
        QCOMPARE(form.WindowBell().Rings(), bells);  // the beep announces results only
        for (QAction* a : {ui.mnuCopy, ui.mnuCreateFile, ui.mnuPrint, ui.mnuCopy_Pop,
                           ui.mnuCreateFile_Pop, ui.mnuPrint_Pop})
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        form.mnuCopy_Click();  // even called directly, Copy finds nothing to copy
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(form.focusWidget(), ui.txtN);
        QCOMPARE(ui.txtN->selectedText(), number);

        // The window is sound: the next run, undamaged, shows its result.
        form.SetLimbFaultForTests({});
        guitest::EnterNumber(form, "12");
        QCOMPARE(guitest::ResultShown(form), QStringLiteral("  0000047  9001600"));
        QVERIFY(ui.mnuCopy->isEnabled());
    }
};

QTEST_MAIN(ResultCheckTest)
#include "test_result_check.moc"

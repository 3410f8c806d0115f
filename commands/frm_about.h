// frmAbout: the About window. Created once, shown modally as often as asked;
// every showing loads it afresh (legal notice, application help file, fixed text).
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTextEdit;

namespace kaldrome {

// The legal notice shown at the bottom of the window (289 characters).
QString LegalNotice();

class FrmAbout : public QDialog {
    Q_OBJECT

  public:
    // Client area 5,235 x 3,510 twips.
    static constexpr int ClientWidth = 349;
    static constexpr int ClientHeight = 234;

    explicit FrmAbout(QWidget* parent = nullptr);

    // Loads the window and shows it modally; returns when it is closed.
    int ShowModal();

    // Controls, named as the program names them (each also carries its objectName).
    QLabel* imgKaldrome = nullptr;
    QTextEdit* rtfAbout = nullptr;
    QLabel* imgDireccion = nullptr;
    QPushButton* cmdContinue = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* lblWarning = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Form_Load();
    void cmdContinue_Click();
    void imgDireccion_Click();
    void FillAboutText();
    void CentreOnScreen();
    void Restore();

    bool linkPressed_ = false;
    bool filling_ = false;  // the window's own text is being put in
};

}  // namespace kaldrome

// The program's own help viewer: a non-modal window showing kaldrome.hlp.
//
// The help file is HTML in the subset that Qt's rich text understands. Its top
// carries an anchor named "contents" (the contents page, with links to the
// topics further down); <title> names the help. The viewer reads the whole file
// itself, so that a missing, unreadable or foreign file is reported inside the
// viewer in plain words and the rest of the program carries on.
#pragma once

#include <QMargins>
#include <QString>
#include <QWidget>

class QPushButton;
class QScreen;
class QTextBrowser;

namespace kaldrome {

class HelpBrowser;

// Help command that opens the contents topic.
inline constexpr int HelpContents = 3;

// Anchor of the contents page inside the help file.
inline constexpr char HelpContentsAnchor[] = "contents";

// The help file's name, and its path: beside the running program (the build
// folder), else where the installed program keeps it.
QString HelpFileName();
QString HelpFilePath();
// The same for a program in programDir.
QString HelpFileFor(const QString& programDir);

// The application-wide help file setting (what context help would open),
// kept on the application object.
void SetApplicationHelpFile(const QString& path);
QString ApplicationHelpFile();

// A top-level window of its own; the common dialog that opens it owns it.
class HelpViewer : public QWidget {
    Q_OBJECT

  public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // Reads helpFile, carries out command and shows (or raises) the window.
    // Every command shows the contents topic: it is the only one the program asks for.
    void Open(const QString& helpFile, int command);

    QTextBrowser* Browser() const;
    // The error in plain words when the file could not be read; empty otherwise.
    QString LoadError() const { return loadError_; }
    // The file the viewer was last asked to show.
    QString HelpFile() const { return helpFile_; }

    // Reads the help file again and shows its contents page.
    void ShowContents();

  protected:
    bool event(QEvent* event) override;

  private:
    void Load(const QString& helpFile, int command);
    // Sizes and places the window so that it fits, frame included, on the
    // screen it opens on, up to its preferred size.
    void FitToScreen();
    QMargins FrameMargins() const;
    QScreen* TargetScreen() const;
    void ShowLoadError(const QString& message);
    void UpdateButtons();

    HelpBrowser* browser_ = nullptr;
    QPushButton* cmdContents_ = nullptr;
    QPushButton* cmdBack_ = nullptr;
    QPushButton* cmdForward_ = nullptr;
    QString helpFile_;
    QString loadError_;
    bool fitWhenFramed_ = false;  // fit again once the window manager's frame is known
};

}  // namespace kaldrome

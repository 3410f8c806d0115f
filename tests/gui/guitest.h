// Shared helpers for the window tests (Qt Test, offscreen platform): the one
// driver for modal dialogs and pop-up menus, typing a number into the window,
// files, headless runs, and child runs of the test program.
#pragma once

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <vector>

#include "base/outcome.h"
#include "engine/run_sequence.h"
#include "mainwindow/form1.h"
#include "mainwindow/result_view.h"

namespace guitest {

// Drives the modal dialogs and pop-up menus a test brings up, so that none can
// block a test for ever inside its own event loop.
//
// Each modal dialog that settles (seen on two polls in a row: one seen only
// once may be on its way out) goes to the next step, in order. A step acts
// without blocking (closing through queued calls), so that a dialog it opens
// in turn reaches the next step. Whatever else stays open longer than
// patienceMs (tests open menus and dialogs of their own, and close them in
// time) is closed and counts as a failure; so do steps still waiting after
// deadlineMs, when every modal dialog is closed.
class DialogDriver : public QObject {
  public:
    using Step = std::function<void(QWidget*, QStringList&)>;

    explicit DialogDriver(int patienceMs = 3000, int deadlineMs = 15000)
        : patienceMs_(patienceMs), deadlineMs_(deadlineMs) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
        clock_.start();
    }

    DialogDriver& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

    // Stops watching once every step has run, or the deadline has passed: a
    // dialog may come after the call that asked for it has returned. True when
    // every step ran and nothing went wrong.
    bool Finish() {
        const bool ran = QTest::qWaitFor(
            [this] { return gaveUp_ || next_ >= steps_.size(); },
            static_cast<int>(std::max<qint64>(0, deadlineMs_ - clock_.elapsed())) + 100);
        timer_.stop();
        return ran && failures.isEmpty() && next_ == steps_.size();
    }
    QString Report() const {
        return QStringLiteral("%1 of %2 dialog steps done; %3")
            .arg(next_)
            .arg(steps_.size())
            .arg(failures.join(QStringLiteral("; ")));
    }

    QStringList failures;

  private:
    void Poll() {
        const qint64 now = clock_.elapsed();
        if (!gaveUp_ && next_ < steps_.size() && now > deadlineMs_) {
            failures << QStringLiteral("deadline passed at step %1").arg(next_ + 1);
            gaveUp_ = true;  // the steps left are not run
            CloseAllModal();
            return;
        }
        QWidget* popup = QApplication::activePopupWidget();
        QWidget* open = popup ? popup : QApplication::activeModalWidget();
        if (open != current_) {  // a new one, or none: watched from now on
            current_ = open;
            since_ = now;
            return;
        }
        if (!open) return;
        if (!popup && open != acted_ && !gaveUp_ && next_ < steps_.size()) {
            acted_ = open;
            since_ = now;
            steps_[next_++](open, failures);
            return;
        }
        if (now - since_ < patienceMs_) return;
        failures << QStringLiteral("left open: %1 '%2' \"%3\"")
                        .arg(QLatin1String(open->metaObject()->className()), open->objectName(),
                             open->windowTitle());
        current_ = nullptr;
        Close(open);
    }

    static void Close(QWidget* w) {
        if (auto* dialog = qobject_cast<QDialog*>(w))
            dialog->reject();
        else
            w->close();
    }

    static void CloseAllModal() {
        for (int i = 0; i < 20; ++i) {
            QWidget* w = QApplication::activeModalWidget();
            if (w == nullptr) return;
            Close(w);
            QCoreApplication::processEvents();
        }
    }

    int patienceMs_;
    int deadlineMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool gaveUp_ = false;
    QPointer<QWidget> current_;
    qint64 since_ = 0;
    QPointer<QWidget> acted_;
};

// Fails the current test when a step is missing or anything had to be closed.
#define GUITEST_VERIFY_DIALOGS(driver) QVERIFY2((driver).Finish(), qPrintable((driver).Report()))

// Shows a top-level widget and waits until it is the active window, so that
// focus and keyboard events behave as for a user.
inline bool ShowActive(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// Runs fn after ms milliseconds, from the event loop; inside a run this means
// from one of the run's yields.
inline void After(int ms, QObject* context, std::function<void()> fn) {
    QTimer::singleShot(ms, context, std::move(fn));
}

// Types text into the window's number box as a user does, replacing what is
// there, and presses Enter; returns when the run that starts (if any) is over.
inline void EnterNumber(const kaldrome::Form1& w, const QString& text) {
    QLineEdit* box = w.Ui().txtN;
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

// The text the window's result box shows.
inline QString ResultShown(const kaldrome::Form1& w) {
    return QString::fromLatin1(w.Ui().rtfResp->Text());
}

// Pastes text into a line edit through its own context menu, the one way
// round the key filter; false when the menu offers no enabled Paste.
inline bool PasteThroughMenu(QLineEdit* box, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    const QPoint at = box->rect().center();
    QContextMenuEvent open(QContextMenuEvent::Mouse, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &open);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return false;
    QAction* paste = nullptr;
    for (QAction* a : menu->actions())
        if (a->text().startsWith(QLineEdit::tr("&Paste"))) paste = a;
    const bool ok = paste != nullptr && paste->isEnabled();
    if (ok) paste->trigger();
    menu->close();
    return ok;
}

// A file's bytes; "<unreadable>" when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

// Replaces the file's contents with bytes; false when that failed.
inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every entry of a folder, hidden ones included, by name.
inline QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The message of a failed step; empty when it worked.
template <class T>
QString FailureOf(const kaldrome::Outcome<T>& outcome) {
    return outcome.Ok() ? QString() : QString::fromStdString(outcome.Error().message);
}

// The run of n! without a window, for a valid n (anything else fails the test).
inline kaldrome::RunState Computed(int32_t n) {
    kaldrome::RunState rs;
    const kaldrome::Outcome<kaldrome::RunOutcome> outcome =
        kaldrome::RunFactorial(rs, kaldrome::Engine{}, n);
    if (!outcome.Ok()) QTest::qFail(outcome.Error().message.c_str(), __FILE__, __LINE__);
    return rs;
}

// Child runs of the test program itself, for behaviour that ends the process
// (or needs other environment, such as a scale factor).
inline constexpr const char* ChildVariable = "KALDROME_GUITEST_CHILD";

inline QString ChildRole() {
    return qEnvironmentVariable(ChildVariable);
}

struct ChildResult {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    qint64 elapsedMs = 0;
    QByteArray output;
};

inline ChildResult RunSelf(const QString& role, const QStringList& arguments,
                           const QHash<QString, QString>& environment = {}, int timeoutMs = 60000) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(ChildVariable, role);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), arguments);
    ChildResult result;
    result.finished = child.waitForStarted(10000) && child.waitForFinished(timeoutMs);
    if (!result.finished) child.kill(), child.waitForFinished(5000);
    result.elapsedMs = clock.elapsed();
    result.exitCode = child.exitCode();
    result.exitStatus = child.exitStatus();
    result.output = child.readAll();
    return result;
}

}  // namespace guitest

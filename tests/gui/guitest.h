// Shared helpers for the window tests (Qt Test, offscreen platform).
//
// ModalWatchdog: a modal dialog or a popup menu left open would block a test
// forever inside its own event loop. The watchdog closes any that stays open
// longer than its patience, and records it, so the test fails instead of
// hanging. Tests that open a menu on purpose close it well within the patience.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "base/outcome.h"
#include "engine/run_sequence.h"

namespace guitest {

class ModalWatchdog : public QObject {
  public:
    explicit ModalWatchdog(int patienceMs = 3000, QObject* parent = nullptr)
        : QObject(parent), patienceMs_(patienceMs) {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
        clock_.start();
    }

    // Everything the watchdog had to close, as "class 'objectName'".
    const QStringList& Closed() const { return closed_; }

  private:
    void Poll() {
        QWidget* open = QApplication::activePopupWidget();
        if (!open) open = QApplication::activeModalWidget();
        if (!open) {
            seen_.clear();
            return;
        }
        const qint64 now = clock_.elapsed();
        const auto it = seen_.constFind(open);
        if (it == seen_.constEnd()) {
            seen_.insert(open, now);
            return;
        }
        if (now - it.value() < patienceMs_) return;
        closed_ << QStringLiteral("%1 '%2'").arg(open->metaObject()->className(),
                                                 open->objectName());
        seen_.remove(open);
        if (auto* dialog = qobject_cast<QDialog*>(open))
            dialog->reject();
        else
            open->close();
    }

    int patienceMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    QHash<QWidget*, qint64> seen_;
    QStringList closed_;
};

// Fails the current test when the watchdog had to close anything.
#define GUITEST_VERIFY_NO_STRAY_WINDOWS(dog)                                      \
    QVERIFY2((dog).Closed().isEmpty(), qPrintable(QStringLiteral("left open: ") + \
                                                  (dog).Closed().join(QStringLiteral(", "))))

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

// The message of a failed step; empty when it worked.
inline QString FailureOf(const kaldrome::Outcome<void>& outcome) {
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

// kaldrome-window-bench [N] [--reps R]: N! (default 999,999) through the
// real window, on Qt's offscreen platform, as a user runs it:
//   - from Enter to every digit on screen (the result box painted), against
//     the same run without a window, in the same process, the runs taking
//     turns: the window's share of a run;
//   - then Copy, and Create File through its dialog, and the process's peak
//     resident memory with all of that.
#include <sys/resource.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/run_sequence.h"
#include "mainwindow/form1.h"
#include "mainwindow/result_view.h"

using kaldrome::Form1;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Enter in the number box; returns once the result box has painted the result.
double RunInWindow(Form1& w, int n) {
    kaldrome::ResultView* box = w.Ui().rtfResp;
    QElapsedTimer t;
    t.start();
    w.Ui().txtN->setText(QString::number(n));
    w.Ui().txtN->setFocus();
    QTest::keyClick(w.Ui().txtN, Qt::Key_Return);  // returns when the run has finished
    const int paints = box->PaintCount();
    while (box->PaintCount() == paints) QCoreApplication::processEvents();
    return Ms(t);
}

// Accepts the save dialog with `path` as soon as it shows.
void AnswerSaveDialog(const QString& path) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* name = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
        if (name == nullptr) return;
        name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        poll->deleteLater();
    });
    poll->start(5);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int n = 999'999, reps = 5;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (arg.toInt() >= 4 && arg.toInt() <= kaldrome::MaxTarget)
            n = arg.toInt();
        else {
            std::fprintf(stderr, "usage: kaldrome-window-bench [N from 4 to 999999] [--reps R]\n");
            return 2;
        }
    }
    QApplication app(argc, argv);
    Form1 w;
    w.show();
    QCoreApplication::processEvents();

    std::vector<double> window, headless;
    const kaldrome::Engine engine;
    for (int r = 0; r < reps; ++r) {
        window.push_back(RunInWindow(w, n));
        kaldrome::RunState rs;
        QElapsedTimer t;
        t.start();
        if (!kaldrome::RunFactorial(rs, engine, n).Ok()) return 1;
        headless.push_back(Ms(t));
        if (rs.DisplayText != w.State().DisplayText) {
            std::fprintf(stderr, "kaldrome-window-bench: the window's result differs\n");
            return 1;
        }
    }

    QElapsedTimer t;
    t.start();
    w.mnuCopy_Click();
    const double copyMs = Ms(t);
    const qsizetype copied = QGuiApplication::clipboard()->mimeData()->data("text/plain").size();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kaldrome%1.txt").arg(n));
    AnswerSaveDialog(path);
    t.start();
    w.mnuCreateFile_Click();
    const double fileMs = Ms(t);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("N              %d (%d digits)\n", n, w.State().DigitCount);
    std::printf("Enter to every digit on screen   %8.1f ms   (median of %d)\n", Median(window),
                reps);
    std::printf("the same run without a window    %8.1f ms   (window / headless %.3f)\n",
                Median(headless), Median(window) / Median(headless));
    std::printf("copy                             %8.1f ms   (%lld bytes)\n", copyMs,
                static_cast<long long>(copied));
    std::printf("create file, its dialog included %8.1f ms   (%lld bytes)\n", fileMs,
                static_cast<long long>(QFileInfo(path).size()));
    std::printf("peak resident memory             %8.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}

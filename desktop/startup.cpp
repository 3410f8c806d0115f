#include "desktop/startup.h"

#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QEvent>
#include <QScreen>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QtGlobal>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <new>

#include "uikit/memory_room.h"

namespace kaldrome {

namespace {

constexpr char NotOpened[] = "kaldrome: the window could not be opened.\n";

// Memory the window needs beside what its start took, for its everyday work.
constexpr std::size_t WorkingRoomBytes = std::size_t{8} << 20;

// Making and painting the window took 13 MiB, and the work needs its room.
constexpr std::size_t StartRoomBytes = std::size_t{20} << 20;

std::FILE* watchErr = nullptr;
QtMessageHandler previousHandler = nullptr;
std::terminate_handler previousTerminate = nullptr;
struct sigaction previousAbort {};

[[noreturn]] void EndWith(const char* line) {
    std::fputs(line, watchErr != nullptr ? watchErr : stderr);
    std::fflush(watchErr != nullptr ? watchErr : stderr);
    // Nothing has been done that needs undoing, and the toolkit's own clean-up
    // could wait on the very thread that failed.
    std::_Exit(1);
}

// A thread that could not be made (its stack is memory too), or the system's
// own words for memory running out, as Qt quotes them in its messages.
bool TellsOfExhaustion(const QString& message) {
    return message.startsWith(QLatin1String("QThread::start: Thread creation error")) ||
           message.contains(qt_error_string(ENOMEM));
}

void WatchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (previousHandler) previousHandler(type, context, message);
    if (watchErr == nullptr) return;
    if (TellsOfExhaustion(message)) EndWith(OutOfMemoryAtStart());
    if (type == QtFatalMsg) EndWith(NotOpened);
}

// An exception nobody catches (a failed allocation inside a callback of the
// toolkit) ends the program too, saying so when it was memory.
[[noreturn]] void Terminated() {
    bool outOfMemory = false;
    try {
        if (const std::exception_ptr thrown = std::current_exception())
            std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    } catch (...) {
    }
    EndWith(outOfMemory ? OutOfMemoryAtStart() : NotOpened);
}

// A library that cannot go on (an allocation inside the X client library
// fails its assertion) aborts; the program ends with its own line and status 1
// instead. Only what is safe in a signal handler is used.
void Aborted(int) {
    [[maybe_unused]] const ssize_t written =
        ::write(STDERR_FILENO, NotOpened, sizeof NotOpened - 1);
    ::_exit(1);
}

// The toolkit ends the process itself on some failures (a broken connection to
// the display); the program's own line follows its message.
void ExitedAtStart() {
    if (watchErr == nullptr) return;
    std::fputs(NotOpened, watchErr);
    std::fflush(watchErr);
}

}  // namespace

std::string DisplayProblem(const QScreen* screen) {
    if (screen == nullptr) return "kaldrome: the display has no screen to show the window on.\n";
    const int depth = screen->depth();
    if (depth >= MinimumDisplayDepth) return {};
    return "kaldrome: the display shows " + std::to_string(depth) +
           " bits per pixel; Kaldrome needs at least " + std::to_string(MinimumDisplayDepth) +
           " (thousands of colours). Start it on a display with more colours.\n";
}

void BeginStartupWatch(std::FILE* err) {
    static const bool exitHook = std::atexit(ExitedAtStart) == 0;
    (void)exitHook;
    watchErr = err;
    previousHandler = qInstallMessageHandler(WatchMessages);
    previousTerminate = std::set_terminate(Terminated);
    struct sigaction onAbort {};
    onAbort.sa_handler = Aborted;
    sigemptyset(&onAbort.sa_mask);
    sigaction(SIGABRT, &onAbort, &previousAbort);
}

void EndStartupWatch() {
    sigaction(SIGABRT, &previousAbort, nullptr);
    std::set_terminate(previousTerminate);
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
    watchErr = nullptr;
}

void EndStartupWatchWhenShown(QWidget* window) {
    // The window's first painting starts the threads the toolkit paints with;
    // once it is done, the program has started.
    class FirstPaint : public QObject {
      public:
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint && !seen_) {
                seen_ = true;
                QTimer::singleShot(0, this, [this, watched] {
                    // Without some room beyond what the start took, the
                    // first key would fail: Qt makes the keyboard's keymap
                    // again when keys come from another keyboard, and where
                    // that fails it drops every key for good.
                    if (!RoomFor(WorkingRoomBytes)) EndWith(OutOfMemoryAtStart());
                    watched->removeEventFilter(this);
                    EndStartupWatch();
                    deleteLater();
                });
            }
            return false;
        }

      private:
        bool seen_ = false;
    };
    window->installEventFilter(new FirstPaint(window));
}

void KeepReservationsSmall() {
    // Six threads of 8 MiB took a third of what the window with 999,999! needs.
    // They (the display's event reader, D-Bus, Qt's painting helpers, the
    // engine's helpers, the save dialog's folder reader) touch 8 to 16 KiB of
    // their stacks; 2 MiB leaves room for deep library calls.
    pthread_attr_t attributes;
    if (pthread_getattr_default_np(&attributes) == 0) {
        if (pthread_attr_setstacksize(&attributes, std::size_t{2} << 20) == 0)
            pthread_setattr_default_np(&attributes);
        pthread_attr_destroy(&attributes);
    }
    // A pool of its own for each thread that allocates reserves 64 MiB, where
    // the limit leaves room for it: under a limit of 250 MB the start took
    // 240 MB and 999,999! then ran out, while under 170 MB it worked. The
    // threads allocate little and seldom, so one shared pool costs nothing.
    mallopt(M_ARENA_MAX, 1);
}

bool RoomToStart() {
    return RoomFor(StartRoomBytes);
}

bool StartupWatched() {
    return watchErr != nullptr;
}

const char* OutOfMemoryAtStart() {
    return "kaldrome: there is not enough memory to start.\n";
}

}  // namespace kaldrome

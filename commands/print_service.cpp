#include "commands/print_service.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "uikit/message_box.h"

namespace kaldrome {

namespace {

using Clock = std::chrono::steady_clock;

// Posted to the service when the helper has an answer ready.
const QEvent::Type AnswerReady = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

QString NoAnswerText() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(PrintServiceWait);
    return QCoreApplication::translate("PrintService",
                                       "The print service does not answer.\n"
                                       "Kaldrome waited %1 seconds for it; nothing was printed "
                                       "or changed.")
        .arg(seconds.count());
}

void ShowNoAnswerMessage(QWidget* parent) {
    ShowStopMessage(parent, NoAnswerText());
}

struct PrintService::Question {
    std::uint64_t id = 0;
    Clock::time_point asked;
    std::function<void(const WorkProgress&)> work;  // on the helper thread
    std::function<void()> answered;                 // on the window's thread
    std::function<void()> silent;
    std::atomic<bool> done{false};
    std::atomic<bool> givenUp{false};
};

// What the helper thread and the service share; the thread keeps it alive
// after the service is gone.
struct PrintService::Helper {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Question>> queue;
    bool busy = false;
    bool closing = false;
    QObject* receiver = nullptr;  // the service, while it exists
    std::atomic<Clock::rep> lastSign{0};

    void Sign() { lastSign = Clock::now().time_since_epoch().count(); }
    Clock::time_point LastSign() const { return Clock::time_point(Clock::duration(lastSign)); }

    static void Run(const std::shared_ptr<Helper>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->closing || !self->queue.empty(); });
            if (self->closing) return;
            const std::shared_ptr<Question> question = std::move(self->queue.front());
            self->queue.pop_front();
            if (question->givenUp) continue;
            self->busy = true;
            lock.unlock();
            self->Sign();
            const WorkProgress progress{[&self] { self->Sign(); },
                                        [&question] { return !question->givenUp; }};
            try {
                question->work(progress);
                question->done = true;
            } catch (...) {
                // No answer, then: the window gives the question up after the wait.
            }
            lock.lock();
            self->busy = false;
            // Posting under the lock: the service cannot go away meanwhile.
            if (question->done && self->receiver != nullptr)
                QCoreApplication::postEvent(self->receiver, new QEvent(AnswerReady));
        }
    }
};

PrintService::PrintService(std::chrono::milliseconds wait, QObject* parent)
    : QObject(parent),
      wait_(wait),
      helper_(std::make_shared<Helper>()),
      deadline_(new QTimer(this)) {
    helper_->receiver = this;
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] { GiveUpSilentOnes(); });
}

PrintService::~PrintService() {
    bool busy = false;
    {
        std::lock_guard lock(helper_->mutex);
        helper_->receiver = nullptr;
        helper_->closing = true;
        helper_->queue.clear();
        busy = helper_->busy;
    }
    for (const auto& question : asked_) question->givenUp = true;
    helper_->wake.notify_all();
    if (!thread_.joinable()) return;
    // A helper inside a call that may never return is not waited for.
    if (busy)
        thread_.detach();
    else
        thread_.join();
}

std::uint64_t PrintService::Start(std::function<void(const WorkProgress&)> work,
                                  std::function<void()> answered, std::function<void()> silent) {
    auto question = std::make_shared<Question>();
    question->id = ++lastAsked_;
    question->asked = Clock::now();
    question->work = std::move(work);
    question->answered = std::move(answered);
    question->silent = std::move(silent);
    asked_.push_back(question);
    {
        std::lock_guard lock(helper_->mutex);
        helper_->queue.push_back(question);
    }
    helper_->wake.notify_one();
    // The helper starts with the first question: a program that never prints has none.
    if (!thread_.joinable()) thread_ = std::thread(&Helper::Run, helper_);
    ArmDeadline();
    return question->id;
}

void PrintService::Forget(std::uint64_t id) {
    const auto it = std::find_if(asked_.begin(), asked_.end(),
                                 [id](const auto& question) { return question->id == id; });
    if (it == asked_.end()) return;
    (*it)->givenUp = true;
    asked_.erase(it);
    ArmDeadline();
}

bool PrintService::event(QEvent* event) {
    if (event->type() != AnswerReady) return QObject::event(event);
    CollectAnswers();
    return true;
}

void PrintService::CollectAnswers() {
    std::vector<std::shared_ptr<Question>> answered;
    for (auto it = asked_.begin(); it != asked_.end();) {
        if (!(*it)->done) {
            ++it;
            continue;
        }
        answered.push_back(*it);
        it = asked_.erase(it);
    }
    ArmDeadline();
    // Last: an answer may open a dialog, and with it an event loop.
    for (const auto& question : answered) question->answered();
}

void PrintService::GiveUpSilentOnes() {
    // The wait counts from the question or from the helper's last sign of
    // life, whichever is later: a question queued behind one that hangs gets
    // the whole wait, and a long job that keeps sending is never cut off.
    const Clock::time_point now = Clock::now();
    const Clock::time_point sign = helper_->LastSign();
    std::vector<std::shared_ptr<Question>> silent;
    for (auto it = asked_.begin(); it != asked_.end();) {
        const auto& question = *it;
        if (question->done || now - std::max(question->asked, sign) < wait_) {
            ++it;  // answered (its event is on the way), or still in time
            continue;
        }
        question->givenUp = true;
        silent.push_back(question);
        it = asked_.erase(it);
    }
    ArmDeadline();
    for (const auto& question : silent) question->silent();
}

void PrintService::ArmDeadline() {
    if (asked_.empty()) {
        deadline_->stop();
        return;
    }
    const Clock::time_point sign = helper_->LastSign();
    Clock::time_point first = Clock::time_point::max();
    for (const auto& question : asked_) first = std::min(first, std::max(question->asked, sign));
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(first + wait_ - Clock::now()).count();
    deadline_->start(static_cast<int>(std::max<decltype(left)>(0, left)));
}

}  // namespace kaldrome

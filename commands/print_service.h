// The system's print service, asked on a helper thread of its own.
//
// A print service that takes connections but answers nothing (a hung or a
// far-away server) holds every call into it for a minute or for ever, and
// Qt's printer classes call into it whenever they are made or asked. So the
// window never asks it itself: every question goes to one helper thread, one
// at a time, while the window goes on painting, answering the window manager
// and running. A question that shows no sign of life for the wait is given
// up: the window says that the print service does not answer and changes
// nothing; whatever the helper brings back later is dropped.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <thread>

class QTimer;
class QWidget;

namespace kaldrome {

// How long the window waits for a sign of life from the print service.
inline constexpr std::chrono::milliseconds PrintServiceWait{5000};

// "The print service does not answer." and what was left undone.
QString NoAnswerText();
void ShowNoAnswerMessage(QWidget* parent);

// What work on the helper thread can tell the window, and learn from it.
struct WorkProgress {
    // A sign of life from long work (a piece of a job sent): the wait starts anew.
    std::function<void()> movedOn;
    // False once the window has given the question up.
    std::function<bool()> wanted;
};

class PrintService : public QObject {
  public:
    explicit PrintService(std::chrono::milliseconds wait = PrintServiceWait,
                          QObject* parent = nullptr);
    // Returns at once: a helper still waiting on the service is left to the
    // process's end, with nothing of this object in its hands.
    ~PrintService() override;

    // Puts question to the helper thread and returns. answered gets its result
    // on this object's thread; or, after the wait without a sign, silent runs
    // instead. question must hold everything it needs by value. Returns the
    // question's number, for Forget.
    template <class T>
    std::uint64_t Ask(std::function<T(const WorkProgress&)> question,
                      std::function<void(T&&)> answered, std::function<void()> silent) {
        auto result = std::make_shared<std::optional<T>>();
        return Start([question = std::move(question),
                      result](const WorkProgress& progress) { *result = question(progress); },
                     [answered = std::move(answered), result] { answered(std::move(**result)); },
                     std::move(silent));
    }

    // The same, waiting for the answer: meanwhile the window repaints, answers
    // the window manager and can be closed, but takes no input. Empty when the
    // service did not answer in time or the program is ending.
    template <class T>
    std::optional<T> AskAndWait(std::function<T(const WorkProgress&)> question) {
        std::optional<T> answer;
        bool over = false;
        QEventLoop loop;
        const std::uint64_t asked = Ask<T>(
            std::move(question),
            [&](T&& value) {
                answer = std::move(value);
                over = true;
                loop.quit();
            },
            [&] {
                over = true;
                loop.quit();
            });
        // exec() returns early only when the program ends; the question is then
        // forgotten, since its answer would reach this frame after it is gone.
        if (!over) loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!over) Forget(asked);
        return answer;
    }

    // Questions asked and not yet answered or given up.
    int Waiting() const { return static_cast<int>(asked_.size()); }

  protected:
    bool event(QEvent* event) override;

  private:
    struct Helper;
    struct Question;

    std::uint64_t Start(std::function<void(const WorkProgress&)> work,
                        std::function<void()> answered, std::function<void()> silent);
    // The question is no longer waited for; neither of its callbacks runs.
    void Forget(std::uint64_t id);
    void CollectAnswers();
    void GiveUpSilentOnes();
    void ArmDeadline();

    const std::chrono::milliseconds wait_;
    std::shared_ptr<Helper> helper_;
    std::thread thread_;
    std::list<std::shared_ptr<Question>> asked_;
    std::uint64_t lastAsked_ = 0;
    QTimer* deadline_ = nullptr;
};

}  // namespace kaldrome

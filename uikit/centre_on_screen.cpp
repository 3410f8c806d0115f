#include "uikit/centre_on_screen.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

namespace kaldrome {

namespace {

void MoveToCentre(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    // move() places the frame, using the frame margins known at this moment.
    window->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                                     window->frameGeometry().size(), screen->availableGeometry())
                     .topLeft());
}

// Watches a window's first exposure: by then the window manager has put its
// frame around it, and the frame's size is known.
class CentreWhenFramed : public QObject {
  public:
    CentreWhenFramed(QWidget* widget, QWindow* window) : QObject(window), widget_(widget) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = static_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window->isExposed()) {
            if (widget_ && !window->frameMargins().isNull()) MoveToCentre(widget_);
            window->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

  private:
    QPointer<QWidget> widget_;
};

}  // namespace

void CentreOnScreen(QWidget* window) {
    MoveToCentre(window);
    QWindow* handle = window->windowHandle();
    if (!handle || handle->isExposed() || !handle->frameMargins().isNull()) return;
    handle->installEventFilter(new CentreWhenFramed(window, handle));
}

}  // namespace kaldrome

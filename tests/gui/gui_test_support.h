// Drives a modal window from a test: construct the driver with what to do
// to the window, then run the code that opens it. The driver looks for the
// window from Qt's loop for a few seconds at most; `act` must close it.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace velto::test {

template <typename Window>
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(Window*)> act) {
    mTimer.setInterval(5);
    QObject::connect(&mTimer, &QTimer::timeout, [this, act = std::move(act)] {
      if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
        mTimer.stop();
        act(window);
      } else if (mDeadline.hasExpired()) {
        mTimer.stop();
      }
    });
    mTimer.start();
  }

 private:
  QDeadlineTimer mDeadline{5000};
  QTimer mTimer;
};

}  // namespace velto::test

// Drives a modal window from a test: construct the driver with what to do
// to the window, then run the code that opens it. The driver looks for the
// window from Qt's loop for a few seconds at most; `act` must close it.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

namespace velto::test {

template <typename Window>
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(Window*)> act) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act)] {
      if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
        timer_.stop();
        act(window);
      } else if (deadline_.hasExpired()) {
        timer_.stop();
      }
    });
    timer_.start();
  }

 private:
  QDeadlineTimer deadline_{5000};
  QTimer timer_;
};

// Closes every message box that opens while it lives and keeps what it
// said, so a test sees each message (and an unexpected one cannot block it).
class MessageRecorder {
 public:
  struct Message {
    QString title;
    QString text;
    QMessageBox::Icon icon;
  };

  MessageRecorder() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        messages_.push_back({box->windowTitle(), box->text(), box->icon()});
        box->accept();
      }
    });
    timer_.start(5);
  }
  const std::vector<Message>& Messages() const { return messages_; }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const Message& message : messages_) texts.push_back(message.text);
    return texts;
  }
  void Clear() { messages_.clear(); }

 private:
  QTimer timer_;
  std::vector<Message> messages_;
};

}  // namespace velto::test

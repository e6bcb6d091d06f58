// When the start-up window closes: once its minimum display time has passed
// and the program has said it is ready, whichever comes second. The window
// owns the timer and forwards its tick, so the rule runs without a clock.
#pragma once

#include <functional>

namespace velto {

class SplashModel {
 public:
  static constexpr int kMinimumShownMs = 3000;

  explicit SplashModel(std::function<void()> close) : close_(std::move(close)) {}

  // The minimum display time has passed.
  void TimerTick() {
    shownLongEnough_ = true;
    CloseWhenDone();
  }
  // Start-up has finished. Saying so twice does not stand in for the timer.
  void AppIsReady() {
    ready_ = true;
    CloseWhenDone();
  }
  bool Closed() const { return closed_; }

 private:
  void CloseWhenDone() {
    if (closed_ || !shownLongEnough_ || !ready_) return;
    closed_ = true;
    if (close_) close_();
  }

  std::function<void()> close_;
  bool shownLongEnough_ = false;
  bool ready_ = false;
  bool closed_ = false;
};

}  // namespace velto

// When the start-up window closes: once its minimum display time has passed
// and the program has said it is ready, whichever comes second. The window
// owns the timer and forwards its tick, so the rule runs without a clock.
#pragma once

#include <functional>

namespace velto {

class SplashModel {
 public:
  static constexpr int kMinimumShownMs = 3000;

  explicit SplashModel(std::function<void()> close) : mClose(std::move(close)) {}

  // The minimum display time has passed.
  void TimerTick() {
    mShownLongEnough = true;
    CloseWhenDone();
  }
  // Start-up has finished. Saying so twice does not stand in for the timer.
  void AppIsReady() {
    mReady = true;
    CloseWhenDone();
  }
  bool Closed() const { return mClosed; }

 private:
  void CloseWhenDone() {
    if (mClosed || !mShownLongEnough || !mReady) return;
    mClosed = true;
    if (mClose) mClose();
  }

  std::function<void()> mClose;
  bool mShownLongEnough = false;
  bool mReady = false;
  bool mClosed = false;
};

}  // namespace velto

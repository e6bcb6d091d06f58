#include "server/hangup_watch.h"

#include <signal.h>

#include <utility>

namespace velto {

namespace {
constexpr std::uint32_t kHangupMessage = 1;
}  // namespace

HangupWatch::HangupWatch(platform::EventLoop& loop, std::function<void()> onHangup)
    : loop_(loop), onHangup_(std::move(onHangup)) {
  target_ = loop_.CreateTarget([this](const platform::Message&) {
    if (onHangup_) onHangup_();
  });
  watching_ = loop_.WatchHangupSignal(target_, kHangupMessage);
}

HangupWatch::~HangupWatch() {
  if (watching_) {
    // Ignored first: a SIGHUP still pending would otherwise end the process
    // the moment the watch unblocks it, with the orderly end half done.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGHUP, &ignore, nullptr);
    loop_.WatchHangupSignal(0, 0);
  }
  loop_.DestroyTarget(target_);
}

}  // namespace velto

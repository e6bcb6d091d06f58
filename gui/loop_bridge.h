// Lets Qt's event loop drive the program's platform loop: one socket
// notifier on the loop's descriptor, which is readable whenever a socket
// event, a posted message or a timer tick is due. No second loop, no timer,
// no thread; modal dialogs run Qt's loop, so they keep the server going.
#pragma once

#include "platform/event_loop.h"

#include <memory>

class QSocketNotifier;

namespace velto {

class LoopBridge {
 public:
  // Needs the QApplication to exist. `loop` is borrowed and must outlive the
  // bridge. Once the platform loop
  // is asked to quit, the bridge ends Qt's loop too (every nested one).
  explicit LoopBridge(platform::EventLoop& loop);
  ~LoopBridge();
  LoopBridge(const LoopBridge&) = delete;
  LoopBridge& operator=(const LoopBridge&) = delete;

 private:
  void Activated();

  platform::EventLoop& loop_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velto

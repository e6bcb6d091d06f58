#include "gui/loop_bridge.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace velto {

LoopBridge::LoopBridge(platform::EventLoop& loop)
    : loop_(loop), notifier_(std::make_unique<QSocketNotifier>(loop.Fd(), QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { Activated(); });
}

LoopBridge::~LoopBridge() = default;

void LoopBridge::Activated() {
  loop_.ProcessReady();
  if (!loop_.QuitRequested()) return;
  // The platform loop dispatches nothing more; a descriptor left readable
  // would only spin Qt's loop until it returns. The program ends whatever
  // window is open (quit() would let a dialog that refuses to close keep
  // it running), nested dialog loops included.
  notifier_->setEnabled(false);
  QCoreApplication::exit(0);
}

}  // namespace velto

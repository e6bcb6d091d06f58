#include "platform/event_loop.h"

int main() {
  auto& loop = platform::EventLoop::Instance();
  const auto target = loop.CreateTarget([&](const platform::Message&) { loop.Quit(0); });
  loop.WatchTerminationSignals(target, 1);
  return loop.Run();
}

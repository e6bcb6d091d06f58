#include "gui/loop_bridge.h"

#include "gui_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace velto {
namespace {

// A socket event, a posted message and a loop timer tick, each of which
// must reach its handler while Qt's loop (or a modal dialog's) runs.
struct LoopTraffic {
  platform::EventLoop loop;
  int pair[2] = {-1, -1};
  platform::TargetHandle target = 0;
  platform::TimerId timer = 0;
  bool socketSeen = false;
  bool postSeen = false;
  bool tickSeen = false;

  LoopTraffic() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    target = loop.CreateTarget([this](const platform::Message& m) {
      if (m.number == platform::kSocketMessage && platform::SelectEvent(m.lParam) == platform::kFdRead) {
        socketSeen = true;
      }
      if (m.number == 2000) postSeen = true;
    });
    loop.AsyncSelect(pair[0], target, platform::kSocketMessage, platform::kFdRead);
  }
  ~LoopTraffic() {
    loop.Unwatch(pair[0]);
    ::close(pair[0]);
    ::close(pair[1]);
  }
  void Start() {
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    loop.Post(target, 2000, 0, 0);
    timer = loop.SetTimer(1, [this](platform::TimerId id) {
      tickSeen = true;
      loop.KillTimer(id);
    });
  }
  bool AllSeen() const { return socketSeen && postSeen && tickSeen; }

  // Calls `end` from Qt's loop once `done` holds, or after a bounded wait.
  void EndWhen(std::function<bool()> done, std::function<void()> end) {
    QObject::connect(&watch, &QTimer::timeout, [this, done = std::move(done), end = std::move(end)] {
      if (!done() && !deadline.hasExpired()) return;
      watch.stop();
      end();
    });
    watch.start(5);
  }
  QTimer watch;
  QDeadlineTimer deadline{10000};
};

TEST(LoopBridge, DispatchesWhileQtsLoopRuns) {
  LoopTraffic traffic;
  LoopBridge bridge(traffic.loop);
  traffic.Start();
  traffic.EndWhen([&] { return traffic.AllSeen(); }, [] { QApplication::exit(0); });
  QApplication::exec();
  EXPECT_TRUE(traffic.socketSeen);
  EXPECT_TRUE(traffic.postSeen);
  EXPECT_TRUE(traffic.tickSeen);
}

TEST(LoopBridge, DispatchesWhileAModalDialogRuns) {
  LoopTraffic traffic;
  LoopBridge bridge(traffic.loop);
  QDialog dialog;
  test::ModalDriver<QDialog> driver([&](QDialog* open) {
    traffic.Start();
    traffic.EndWhen([&] { return traffic.AllSeen(); }, [open] { open->reject(); });
  });
  dialog.exec();
  EXPECT_TRUE(traffic.AllSeen());
}

TEST(LoopBridge, DispatchesWhileADialogOpenedByALoopHandlerRuns) {
  LoopTraffic traffic;
  LoopBridge bridge(traffic.loop);
  bool seenDuringDialog = false;
  const platform::TargetHandle opener = traffic.loop.CreateTarget([&](const platform::Message&) {
    QDialog dialog;
    test::ModalDriver<QDialog> driver([&](QDialog* open) {
      // Only a post: socket and timer events would wake the loop anyway.
      traffic.loop.Post(traffic.target, 2000, 0, 0);
      traffic.EndWhen([&] { return traffic.postSeen; }, [&, open] {
        seenDuringDialog = traffic.postSeen;
        open->reject();
      });
    });
    dialog.exec();
    QApplication::exit(0);
  });
  traffic.loop.Post(opener, 1, 0, 0);
  QApplication::exec();
  EXPECT_TRUE(seenDuringDialog);
}

TEST(LoopBridge, QuitOfThePlatformLoopEndsQtsLoop) {
  platform::EventLoop loop;
  LoopBridge bridge(loop);
  const platform::TargetHandle target = loop.CreateTarget([&](const platform::Message&) { loop.Quit(0); });
  loop.Post(target, 1, 0, 0);
  QTimer guard;  // bounds the test should the quit not arrive
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(1); });
  guard.start(10000);
  EXPECT_EQ(QApplication::exec(), 0);
}

}  // namespace
}  // namespace velto

// The timer service: enabling, disabling, intervals and the module table.
#include "portwell/timer.h"
#include "portwell/debug_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using portwell::CTimer;
using pwtest::PumpUntil;

TEST(CTimer, EnableTwiceStartsOneLoopTimerAndDisableStopsIt) {
  CTimer timer;
  timer.SetInterval(10);
  int ticks = 0;
  timer.IntervalReached = [&] { ++ticks; };
  EXPECT_FALSE(timer.DisableTimer());  // never enabled
  EXPECT_TRUE(timer.EnableTimer());
  const std::string id = timer.TimerID();
  EXPECT_FALSE(timer.EnableTimer());
  EXPECT_EQ(timer.TimerID(), id);
  EXPECT_EQ(portwell::TimerTableCount(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(timer.DisableTimer());
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.DisableTimer());
  const int seen = ticks;
  pwtest::PumpFor(60ms);
  EXPECT_EQ(ticks, seen);
}

TEST(CTimer, NewIntervalTakesEffectOnlyAfterRestart) {
  CTimer timer;
  timer.SetInterval(10);
  int ticks = 0;
  timer.IntervalReached = [&] { ++ticks; };
  ASSERT_TRUE(timer.EnableTimer());
  timer.SetInterval(100000);
  // Still ticking at the old period.
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000ms));
  ASSERT_TRUE(timer.DisableTimer());
  ASSERT_TRUE(timer.EnableTimer());
  const int seen = ticks;
  pwtest::PumpFor(80ms);
  EXPECT_EQ(ticks, seen);
}

TEST(CTimer, TwoTimersTickIndependently) {
  CTimer fast;
  CTimer slow;
  fast.SetInterval(5);
  slow.SetInterval(20);
  int fastTicks = 0;
  int slowTicks = 0;
  fast.IntervalReached = [&] { ++fastTicks; };
  slow.IntervalReached = [&] { ++slowTicks; };
  ASSERT_TRUE(fast.EnableTimer());
  ASSERT_TRUE(slow.EnableTimer());
  ASSERT_TRUE(fast.DisableTimer());
  EXPECT_EQ(portwell::TimerTableCount(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return slowTicks >= 2; }));
  EXPECT_EQ(fastTicks, 0);
}

TEST(CTimer, HandlerMayDestroyItsOwnTimer) {
  auto timer = std::make_unique<CTimer>();
  timer->SetInterval(5);
  int ticks = 0;
  timer->IntervalReached = [&] {
    ++ticks;
    timer.reset();
  };
  ASSERT_TRUE(timer->EnableTimer());
  ASSERT_TRUE(PumpUntil([&] { return timer == nullptr; }));
  pwtest::PumpFor(40ms);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(portwell::TimerTableExists());  // dropped with the last timer while empty
}

TEST(CTimer, TickForUnknownIdKillsTheLoopTimer) {
  CTimer timer;
  timer.SetInterval(5);
  ASSERT_TRUE(timer.EnableTimer());
  const auto id = static_cast<platform::TimerId>(std::stoul(timer.TimerID()));
  // The table goes away while the loop timer still runs: its next tick kills it.
  portwell::DropTimerTable();
  EXPECT_FALSE(platform::EventLoop::Instance().TimerExists(id));
  EXPECT_FALSE(timer.DisableTimer());
  const platform::TimerId stray = platform::EventLoop::Instance().SetTimer(5, [](platform::TimerId t) {
    portwell::TimerProc(t);
  });
  ASSERT_TRUE(PumpUntil([&] { return !platform::EventLoop::Instance().TimerExists(stray); }));
}

TEST(CLog, MissingFolderWritesNothingAndDoesNotFail) {
  portwell::CLog log;
  log.LogFile = "/nonexistent-folder-for-velto/x.log";
  log.LogData("line");
  EXPECT_FALSE(std::filesystem::exists(log.LogFile));
}

TEST(CLog, AppendsLinesWithCrLf) {
  const auto path = std::filesystem::temp_directory_path() / ("pwlog-" + std::to_string(::getpid()) + ".log");
  {
    portwell::CLog log;
    log.LogFile = path.string();
    log.LogData("one");
    log.LogData("two");
  }
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "one\r\ntwo\r\n");
  std::filesystem::remove(path);
}

}  // namespace

#include "server/message_queue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using platform::EventLoop;
using platform::Message;

class MessageQueueTest : public ::testing::Test {
 protected:
  EventLoop loop;
  CMessageQueue pump{loop};
  std::vector<std::pair<platform::TargetHandle, std::uint32_t>> seen;

  platform::TargetHandle NewTarget() {
    return loop.CreateTarget([this](const Message& m) { seen.emplace_back(m.target, m.number); });
  }
};

TEST_F(MessageQueueTest, RegistrationErrors) {
  EXPECT_FALSE(pump.ProcessWndMsgs());
  pump.AddHwnd(5);
  EXPECT_THROW(pump.AddHwnd(5), std::invalid_argument);
  EXPECT_THROW(pump.RemoveHwnd(6), std::out_of_range);
  pump.RemoveHwnd(5);
  EXPECT_EQ(pump.Count(), 0u);
}

TEST_F(MessageQueueTest, OneMessagePerTargetPerCall) {
  auto a = NewTarget(), b = NewTarget(), c = NewTarget();
  for (auto t : {a, b, c}) pump.AddHwnd(t);
  for (auto t : {a, b, c}) {
    loop.Post(t, 1, 0, 0);
    loop.Post(t, 2, 0, 0);
  }
  EXPECT_TRUE(pump.ProcessWndMsgs());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], std::make_pair(a, 1u));
  EXPECT_EQ(seen[2], std::make_pair(c, 1u));
  EXPECT_TRUE(pump.ProcessWndMsgs());
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[5], std::make_pair(c, 2u));
  EXPECT_FALSE(pump.ProcessWndMsgs());
}

TEST_F(MessageQueueTest, OptionsOutOfRangeAndHiddenTargets) {
  auto a = NewTarget(), hidden = NewTarget();
  pump.AddHwnd(a);
  pump.AddHwnd(hidden);
  loop.SetVisible(hidden, false);
  loop.Post(a, 1, 0, 0);
  loop.Post(hidden, 1, 0, 0);
  EXPECT_FALSE(pump.ProcessWndMsgs(4));
  EXPECT_FALSE(pump.ProcessWndMsgs(-1));
  EXPECT_TRUE(seen.empty());
  int repaints = 0;
  pump.SetRepaint([&](std::int32_t) { ++repaints; });
  EXPECT_TRUE(pump.ProcessWndMsgs(3));
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(repaints, 1);
  EXPECT_EQ(loop.PendingCount(), 1u);  // the hidden target's message waits
}

TEST_F(MessageQueueTest, NestedCallReturnsFalseAndUnregisteredStayQueued) {
  bool nested = true;
  auto a = loop.CreateTarget([&](const Message&) { nested = pump.ProcessWndMsgs(); });
  auto b = NewTarget();
  auto stranger = NewTarget();
  pump.AddHwnd(a);
  pump.AddHwnd(b);
  loop.Post(a, 1, 0, 0);
  loop.Post(b, 1, 0, 0);
  loop.Post(stranger, 9, 0, 0);
  EXPECT_TRUE(pump.ProcessWndMsgs());
  EXPECT_FALSE(nested);
  ASSERT_EQ(seen.size(), 1u);  // b's message, once; the nested call took nothing
  EXPECT_EQ(loop.PendingCount(), 1u);
  // A destroyed target that was never removed is skipped.
  loop.DestroyTarget(b);
  loop.Post(a, 2, 0, 0);
  EXPECT_TRUE(pump.ProcessWndMsgs());
}

}  // namespace

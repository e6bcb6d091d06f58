#include "log/text_log.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(AddToTextLog, NewestLineOnTop) {
  std::string box;
  AddToTextLog(box, "one");
  AddToTextLog(box, "two");
  EXPECT_EQ(box, "two\r\none\r\n");
}

TEST(AddToTextLog, EmptiesTheBoxOnceTheLimitWouldBeReached) {
  std::string box(9990, 'x');
  AddToTextLog(box, "0123456789");  // 9990 + 10 = 10000
  EXPECT_EQ(box, "0123456789\r\n");

  box.assign(9989, 'x');
  AddToTextLog(box, "0123456789");  // 9999: kept
  EXPECT_EQ(box.size(), 9989u + 12u);
  EXPECT_EQ(box.substr(0, 12), "0123456789\r\n");

  box.assign(9990, 'x');
  AddToTextLog(box, std::string(20, 'n'));
  EXPECT_EQ(box, std::string(20, 'n') + "\r\n");
}

TEST(AddToTextLog, StaysNearTheLimitUnderSteadyTraffic) {
  std::string box;
  for (int i = 0; i < 5000; ++i) {
    AddToTextLog(box, "03-07-2001 09:05:02 PM a line of activity");
    ASSERT_LT(box.size(), kTextLogLimit + 64);
  }
}

}  // namespace
}  // namespace velto

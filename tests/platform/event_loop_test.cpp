#include <gtest/gtest.h>
TEST(EventLoop, Placeholder) {}

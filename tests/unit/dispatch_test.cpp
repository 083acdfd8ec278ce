#include <gtest/gtest.h>

#include <algorithm>

#include "zelk/commands.h"

namespace zelk {
namespace {

TEST(UsageText, HasTwentyFiveLinesAndItsLength) {
  EXPECT_EQ(usage_text.size(), 1588u);
  EXPECT_EQ(std::count(usage_text.begin(), usage_text.end(), '\n') + 1, 25);
}

}  // namespace
}  // namespace zelk

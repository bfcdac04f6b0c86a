#include <climits>

#include <gtest/gtest.h>

#include "wizard/progress_math.h"

TEST(WizardPercent, TruncatesTowardZero) {
  EXPECT_EQ(PercentOf(0, 1000), 0);
  EXPECT_EQ(PercentOf(1, 1000), 0);
  EXPECT_EQ(PercentOf(999, 1000), 99);
  EXPECT_EQ(PercentOf(1000, 1000), 100);
  EXPECT_EQ(PercentOf(2, 3), 66);
}

TEST(WizardPercent, ZeroTotalGivesZeroInsteadOfDividing) {
  EXPECT_EQ(PercentOf(0, 0), 0);
  EXPECT_EQ(PercentOf(65536, 0), 0);
}

TEST(WizardPercent, SizesAboveTwoGigabytesStayPositive) {
  // As signed numbers these would be negative and give a negative percent.
  EXPECT_EQ(PercentOf(0x80000000u, 0xFFFFFFFFu), 50);
  EXPECT_EQ(PercentOf(0xFFFFFFFFu, 0xFFFFFFFFu), 100);
  // 32-bit integer arithmetic would overflow in part * 100.
  EXPECT_EQ(PercentOf(3000000000u, 4000000000u), 75);
}

TEST(WizardPercent, MoreReceivedThanExpectedGoesAboveHundred) {
  EXPECT_EQ(PercentOf(1500, 1000), 150);
  EXPECT_EQ(PercentOf(0xFFFFFFFFu, 1), INT_MAX);
}

TEST(WizardProgressRange, ExtensionIsHeldWithinIntRange) {
  EXPECT_EQ(ExtendedUpperBound(100, 50), 150);
  EXPECT_EQ(ExtendedUpperBound(100, -30), 70);
  EXPECT_EQ(ExtendedUpperBound(INT_MAX - 5, 100), INT_MAX);
  EXPECT_EQ(ExtendedUpperBound(INT_MIN + 5, -100), INT_MIN);
}

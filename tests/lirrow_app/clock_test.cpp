// The player's time texts and position bar.
#include <gtest/gtest.h>

#include "player_clock.h"

namespace lirrow {
namespace {

TEST(PlayerClock, TimeTexts) {
  EXPECT_EQ(FormatClock(0), L"0:00");
  EXPECT_EQ(FormatClock(999), L"0:00");
  EXPECT_EQ(FormatClock(61500), L"1:01");
  EXPECT_EQ(FormatClock(3599999), L"59:59");
  EXPECT_EQ(FormatClock(3600000), L"1:00:00");
  EXPECT_EQ(FormatClock(3725000), L"1:02:05");
  EXPECT_EQ(FormatPlayerTimes(5000, 125000), L"0:05 / 2:05");
}

TEST(PlayerClock, PositionBarIsClampedAndMonotonic) {
  EXPECT_EQ(PositionToStep(0, 0), 0);
  EXPECT_EQ(PositionToStep(500, 0), 0);
  EXPECT_EQ(PositionToStep(0, 10000), 0);
  EXPECT_EQ(PositionToStep(5000, 10000), kPositionBarSteps / 2);
  EXPECT_EQ(PositionToStep(20000, 10000), kPositionBarSteps);
  EXPECT_EQ(StepToPosition(-5, 10000), 0u);
  EXPECT_EQ(StepToPosition(kPositionBarSteps + 5, 10000), 10000u);
  EXPECT_EQ(StepToPosition(kPositionBarSteps / 4, 10000), 2500u);
  // Long files: no overflow of the intermediate product.
  const unsigned long tenHours = 36000000;
  EXPECT_EQ(PositionToStep(tenHours / 2, tenHours), kPositionBarSteps / 2);
  EXPECT_EQ(StepToPosition(kPositionBarSteps / 2, tenHours), tenHours / 2);
  int previous = -1;
  for (unsigned long ms = 0; ms <= 10000; ms += 37) {
    const int step = PositionToStep(ms, 10000);
    EXPECT_GE(step, previous);
    previous = step;
  }
}

}  // namespace
}  // namespace lirrow

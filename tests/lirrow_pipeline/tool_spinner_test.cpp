// Spinner frames and counters of the progress windows, and the placement of
// the extraction window.
#include <gtest/gtest.h>

#include "tool_spinner.h"

namespace lirrow {
namespace {

TEST(Spinner, FramesCycleThroughTheFourShapes) {
  EXPECT_EQ(SpinnerFrame(0, L"Wait"), L"Wait |");
  EXPECT_EQ(SpinnerFrame(1, L"Wait"), L"Wait /");
  EXPECT_EQ(SpinnerFrame(2, L"Wait"), L"Wait---");
  EXPECT_EQ(SpinnerFrame(3, L"Wait"), L"Wait \\");
  EXPECT_EQ(SpinnerFrame(4, L"Wait"), L"Wait |");
  EXPECT_EQ(SpinnerFrame(4001, L""), L" /");
}

TEST(Spinner, ACounterStartsAtOneAndANewWindowContinuesIt) {
  SpinnerCounter counter;
  // First run: three ticks.
  EXPECT_EQ(counter.Advance(L"A"), L"A /");
  EXPECT_EQ(counter.Advance(L"A"), L"A---");
  EXPECT_EQ(counter.Advance(L"A"), L"A \\");
  // Second run with another text: the cycle goes on, it does not restart.
  EXPECT_EQ(counter.Advance(L"B"), L"B |");
  EXPECT_EQ(counter.Advance(L"B"), L"B /");
  EXPECT_EQ(counter.Count(), 6u);
}

TEST(Spinner, TheTwoWindowKindsCountSeparately) {
  const unsigned tool = ToolProgressSpinner().Count();
  const unsigned extraction = ExtractionSpinner().Count();
  ToolProgressSpinner().Advance(L"x");
  ToolProgressSpinner().Advance(L"x");
  EXPECT_EQ(ToolProgressSpinner().Count(), tool + 2);
  EXPECT_EQ(ExtractionSpinner().Count(), extraction);
  EXPECT_EQ(&ToolProgressSpinner(), &ToolProgressSpinner());
}

TEST(Spinner, ATickWhileTheToolRunsTurnsTheSpinnerAndAnEndedToolClosesWithoutOne) {
  SpinnerCounter counter;
  const ToolTick running = ToolProgressTick(true, counter, L"Converting");
  EXPECT_FALSE(running.close);
  EXPECT_EQ(running.line, L"Converting /");
  const ToolTick ended = ToolProgressTick(false, counter, L"Converting");
  EXPECT_TRUE(ended.close);
  EXPECT_EQ(counter.Count(), 2u);  // the closing tick shows no frame
}

TEST(ExtractionPlacement, CentredByClientSizesFromTheParentsWindowCorner) {
  const WindowPosition p = CentreOverParent(100, 50, 400, 300, 246, 57);
  EXPECT_EQ(p.x, 100 + 77);  // (400 - 246) / 2
  EXPECT_EQ(p.y, 50 + 121);  // (300 - 57) / 2 = 121.5, truncated
  // Wider than the parent: the halves truncate toward zero, not downward.
  const WindowPosition q = CentreOverParent(10, 10, 100, 20, 131, 25);
  EXPECT_EQ(q.x, 10 - 15);  // -31 / 2 = -15
  EXPECT_EQ(q.y, 10 - 2);   // -5 / 2 = -2
}

}  // namespace
}  // namespace lirrow

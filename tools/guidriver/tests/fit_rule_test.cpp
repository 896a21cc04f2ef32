#include "fit_rule.h"

#include <gtest/gtest.h>

namespace {

using guidriver::FitProblem;
using guidriver::FitSizes;
using guidriver::TextKind;

FitSizes Sizes(int cw, int ch, int tw, int th, int box = 0) {
  FitSizes s;
  s.clientWidth = cw;
  s.clientHeight = ch;
  s.textWidth = tw;
  s.textHeight = th;
  s.checkBoxWidth = box;
  return s;
}

TEST(FitRule, EachKindKeepsTheRoomTheSystemDrawsBesideTheText) {
  // A button's text needs its edges; a check box's text needs the box and a gap.
  EXPECT_EQ(FitProblem(TextKind::kPushButton, Sizes(54, 20, 50, 16)), "");
  EXPECT_EQ(FitProblem(TextKind::kPushButton, Sizes(53, 20, 50, 16)), "needs 54x20, has 53x20");
  EXPECT_EQ(FitProblem(TextKind::kCheckBox, Sizes(77, 16, 60, 16, 13)), "");
  EXPECT_EQ(FitProblem(TextKind::kCheckBox, Sizes(76, 16, 60, 16, 13)), "needs 77x16, has 76x16");
  EXPECT_EQ(FitProblem(TextKind::kGroupBox, Sizes(60, 40, 49, 16)), "needs 61x16, has 60x40");
}

TEST(FitRule, WrappedTextMustFitInHeightAndShortenedTextOnlyInHeight) {
  EXPECT_EQ(FitProblem(TextKind::kStaticWrapped, Sizes(100, 32, 98, 48)),
            "needs 98x48, has 100x32");
  EXPECT_EQ(FitProblem(TextKind::kStaticLine, Sizes(100, 16, 101, 16)), "needs 101x16, has 100x16");
  EXPECT_EQ(FitProblem(TextKind::kStaticEllipsis, Sizes(100, 16, 400, 16)), "");
  EXPECT_EQ(FitProblem(TextKind::kStaticEllipsis, Sizes(100, 14, 400, 16)),
            "needs height 16, has 100x14");
}

}  // namespace

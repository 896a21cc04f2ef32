#include "fit_rule.h"

namespace guidriver {

namespace {

// Room the system keeps beside the text, in pixels: a push button's edge
// (2) on each side, a check box's gap after the box, a group box's indent
// on each side of its caption.
constexpr int kButtonEdge = 2;
constexpr int kCheckGap = 4;
constexpr int kGroupIndent = 6;

std::string Sizes(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

}  // namespace

std::string FitProblem(TextKind kind, const FitSizes& s) {
  int needW = s.textWidth, needH = s.textHeight;
  switch (kind) {
    case TextKind::kPushButton:
      needW += 2 * kButtonEdge;
      needH += 2 * kButtonEdge;
      break;
    case TextKind::kCheckBox: needW += s.checkBoxWidth + kCheckGap; break;
    case TextKind::kGroupBox: needW += 2 * kGroupIndent; break;
    case TextKind::kStaticEllipsis: needW = 0; break;
    case TextKind::kStaticLine:
    case TextKind::kStaticWrapped: break;
  }
  if (needW <= s.clientWidth && needH <= s.clientHeight) return std::string();
  const std::string has = ", has " + Sizes(s.clientWidth, s.clientHeight);
  if (kind == TextKind::kStaticEllipsis) return "needs height " + std::to_string(needH) + has;
  return "needs " + Sizes(needW, needH) + has;
}

}  // namespace guidriver

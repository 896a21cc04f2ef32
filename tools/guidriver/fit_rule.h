// Whether a control's text fits the control: the rule of the driver's `fit`
// command, apart from the window system (the driver measures the text with
// the control's own font and hands the sizes in). Sizes are in pixels.
#pragma once
#include <string>

namespace guidriver {

enum class TextKind {
  kPushButton,     // text centred inside the button's edges
  kCheckBox,       // check box or radio button: the box, a gap, then the text
  kGroupBox,       // text in the top edge, after an indent
  kStaticLine,     // one line, no wrapping
  kStaticWrapped,  // word-wrapped lines
  kStaticEllipsis  // shortened with "..." by the system when too wide
};

struct FitSizes {
  int clientWidth = 0, clientHeight = 0;
  // The text's extent: one line, or for kStaticWrapped the lines wrapped at
  // clientWidth (wider than it when a single word is wider).
  int textWidth = 0, textHeight = 0;
  int checkBoxWidth = 0;  // kCheckBox only: the system's check mark width
};

// Empty when the text fits; otherwise what it needs and what it has,
// "needs 61x16, has 58x16" ("needs height 16, has 58x14" for a text the
// system shortens).
std::string FitProblem(TextKind kind, const FitSizes& s);

}  // namespace guidriver

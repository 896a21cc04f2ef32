// The spinner of the two progress windows and the placement of the
// extraction window: portable logic of the tool runner.
#pragma once

#include <string>

namespace lirrow {

// Frame `index` (taken modulo 4) of the spinner around `baseText`:
// "%s |", "%s /", "%s---", "%s \".
std::wstring SpinnerFrame(unsigned index, const std::wstring& baseText);

// A frame counter that lives as long as the program: it starts at 1 and is
// never reset, so a new window continues where the last one of its kind
// stopped.
class SpinnerCounter {
 public:
  // The frame of the current count; the count then advances.
  std::wstring Advance(const std::wstring& baseText);
  unsigned Count() const { return count_; }

 private:
  unsigned count_ = 1;
};

// The counters of the tool progress window and of the extraction window.
SpinnerCounter& ToolProgressSpinner();
SpinnerCounter& ExtractionSpinner();

// What the tool progress window does on a tick of its timer.
struct ToolTick {
  bool close = false;  // the tool has ended: record its code and close
  std::wstring line;   // otherwise the new spinner line
};
ToolTick ToolProgressTick(bool toolStillRunning, SpinnerCounter& counter,
                          const std::wstring& baseText);

// Top-left corner of a window of client size (ownWidth, ownHeight) centred
// over a parent whose window rectangle starts at (parentLeft, parentTop) and
// whose client area is parentWidth x parentHeight. Divisions truncate toward
// zero, so a window wider than its parent's client area moves left of it.
struct WindowPosition {
  long x;
  long y;
};
WindowPosition CentreOverParent(long parentLeft, long parentTop, long parentWidth,
                                long parentHeight, long ownWidth, long ownHeight);

}  // namespace lirrow

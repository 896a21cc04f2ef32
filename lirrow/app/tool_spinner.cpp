#include "tool_spinner.h"

namespace lirrow {

std::wstring SpinnerFrame(unsigned index, const std::wstring& baseText) {
  static const wchar_t* const kSuffixes[4] = {L" |", L" /", L"---", L" \\"};
  return baseText + kSuffixes[index % 4];
}

std::wstring SpinnerCounter::Advance(const std::wstring& baseText) {
  std::wstring frame = SpinnerFrame(count_, baseText);
  ++count_;
  return frame;
}

SpinnerCounter& ToolProgressSpinner() {
  static SpinnerCounter counter;
  return counter;
}

SpinnerCounter& ExtractionSpinner() {
  static SpinnerCounter counter;
  return counter;
}

ToolTick ToolProgressTick(bool toolStillRunning, SpinnerCounter& counter,
                          const std::wstring& baseText) {
  ToolTick tick;
  if (toolStillRunning)
    tick.line = counter.Advance(baseText);
  else
    tick.close = true;
  return tick;
}

WindowPosition CentreOverParent(long parentLeft, long parentTop, long parentWidth,
                                long parentHeight, long ownWidth, long ownHeight) {
  return WindowPosition{parentLeft + (parentWidth - ownWidth) / 2,
                        parentTop + (parentHeight - ownHeight) / 2};
}

}  // namespace lirrow

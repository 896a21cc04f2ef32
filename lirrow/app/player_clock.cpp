#include "player_clock.h"

#include <cwchar>

namespace lirrow {

std::wstring FormatClock(unsigned long milliseconds) {
  const unsigned long s = milliseconds / 1000;
  wchar_t buffer[32];
  if (s >= 3600)
    std::swprintf(buffer, 32, L"%lu:%02lu:%02lu", s / 3600, (s % 3600) / 60, s % 60);
  else
    std::swprintf(buffer, 32, L"%lu:%02lu", s / 60, s % 60);
  return buffer;
}

std::wstring FormatPlayerTimes(unsigned long positionMs, unsigned long lengthMs) {
  return FormatClock(positionMs) + L" / " + FormatClock(lengthMs);
}

int PositionToStep(unsigned long positionMs, unsigned long lengthMs) {
  if (lengthMs == 0) return 0;
  if (positionMs >= lengthMs) return kPositionBarSteps;
  return static_cast<int>(static_cast<unsigned long long>(positionMs) * kPositionBarSteps /
                          lengthMs);
}

unsigned long StepToPosition(int step, unsigned long lengthMs) {
  if (step <= 0) return 0;
  if (step >= kPositionBarSteps) return lengthMs;
  return static_cast<unsigned long>(static_cast<unsigned long long>(lengthMs) *
                                    static_cast<unsigned>(step) / kPositionBarSteps);
}

}  // namespace lirrow

// Time texts and position-bar arithmetic of the player control.
#pragma once

#include <string>

namespace lirrow {

// "m:ss" below an hour, "h:mm:ss" from an hour on; milliseconds truncated.
std::wstring FormatClock(unsigned long milliseconds);

// "elapsed / total" as the player shows it.
std::wstring FormatPlayerTimes(unsigned long positionMs, unsigned long lengthMs);

// The position bar has a fixed number of steps; these map between its steps
// and a position in the file, clamped to the file's length.
constexpr int kPositionBarSteps = 1000;
int PositionToStep(unsigned long positionMs, unsigned long lengthMs);
unsigned long StepToPosition(int step, unsigned long lengthMs);

}  // namespace lirrow

// Imports InitializeConditionVariable (Windows Vista and later, not on XP).
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CONDITION_VARIABLE condition;
  InitializeConditionVariable(&condition);
  WakeConditionVariable(&condition);
  return 0;
}

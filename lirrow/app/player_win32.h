// The player control that sits at 1044 in the main dialog: a child window of
// class "LirrowPlayer" that plays WAV and MP3 files through MCI and offers
// Play, Pause, Stop and a position bar with elapsed and total time.
#pragma once

#include <windows.h>

#include <string>

#include "converter_dialog.h"

namespace lirrow {

// Registers the window class; false when it cannot be registered (the main
// dialog then cannot be created).
bool RegisterPlayerClass(HINSTANCE instance);

// The PlayerControl of a player window, or nullptr when `window` is not one.
PlayerControl* PlayerOfWindow(HWND window);

}  // namespace lirrow

#pragma once

#include <windows.h>

#include "text_table.h"

namespace lirrow {

// The About box (template 100), modal over `owner`, with its texts.
void ShowAboutDialog(HWND owner, const TextTable& texts);

}  // namespace lirrow

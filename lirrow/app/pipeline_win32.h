// The conversion pipeline on Win32: the platform binding and the tool runner
// with its progress windows.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "pipeline.h"
#include "pipeline_platform.h"

namespace lirrow {

// A pipeline bound to `host` (its OwnerWindow() owns the progress windows)
// and to the Win32 platform. Needs templates 130 and 131 in the program's
// resources.
std::unique_ptr<Conversion> CreateWin32Pipeline(ConversionHost& host);
// The same over other recording operations (tests).
std::unique_ptr<Conversion> CreateWin32Pipeline(ConversionHost& host, RecordingFiles& files);

// Starts `commandLine` hidden and waits for it behind the modal tool progress
// window (template 130) over `owner`. started = false when the process could
// not be created (the thread's last error tells why).
ToolRun RunTool(HWND owner, std::wstring& commandLine, const std::wstring& baseText);

// Opens the modeless extraction window (template 131) centred over `parent`,
// with `baseText` for its spinner; destroy it with CloseExtractionWindow.
HWND OpenExtractionWindow(HWND parent, const std::wstring& baseText);
void CloseExtractionWindow(HWND window);

// Shows the system's message text for the thread's last error (warning icon,
// caption "Lirrow"). True, with nothing shown, when the last error is 0.
bool ReportSystemError(HWND owner = nullptr);
// The same for the error `code`.
void ShowSystemError(HWND owner, DWORD code);

}  // namespace lirrow

// The converter's Unicode (W) system calls, reached through one table of
// function pointers that is filled once at start-up. Windows 95/98/ME export
// most W functions only as stubs that fail, so there the table is filled from
// the Microsoft Layer for Unicode (unicows.dll); on Windows NT it is filled
// from the system DLLs. The program imports no W function directly.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <string>

namespace lirrow {

// Every W function the converter and its runtime call: X(dll, name), where dll
// is the system DLL that exports it on Windows NT. Names that windows.h maps
// to another function on one architecture (GetWindowLongPtrW is
// GetWindowLongW on 32-bit Windows) are bound under the mapped name.
#define LIRROW_UNICODE_CALLS(X)         \
  X(kernel32, CopyFileW)                \
  X(kernel32, CreateFileW)              \
  X(kernel32, CreateProcessW)           \
  X(kernel32, CreateSemaphoreW)         \
  X(kernel32, DeleteFileW)              \
  X(kernel32, FormatMessageW)           \
  X(kernel32, GetCurrentDirectoryW)     \
  X(kernel32, GetFileAttributesW)       \
  X(kernel32, GetModuleFileNameW)       \
  X(kernel32, GetModuleHandleW)         \
  X(kernel32, GetPrivateProfileStringW) \
  X(kernel32, GetStartupInfoW)          \
  X(kernel32, GetTempPathW)             \
  X(kernel32, GetWindowsDirectoryW)     \
  X(kernel32, LoadLibraryW)             \
  X(kernel32, MoveFileW)                \
  X(kernel32, lstrcmpiW)                \
  X(user32, AppendMenuW)                \
  X(user32, CallWindowProcW)            \
  X(user32, CreateDialogParamW)         \
  X(user32, CreateWindowExW)            \
  X(user32, DefWindowProcW)             \
  X(user32, DialogBoxParamW)            \
  X(user32, DispatchMessageW)           \
  X(user32, GetClassInfoExW)            \
  X(user32, GetClassNameW)              \
  X(user32, GetPropW)                   \
  X(user32, GetWindowLongPtrW)          \
  X(user32, GetWindowTextLengthW)       \
  X(user32, GetWindowTextW)             \
  X(user32, LoadCursorW)                \
  X(user32, LoadIconW)                  \
  X(user32, LoadImageW)                 \
  X(user32, MessageBoxW)                \
  X(user32, PeekMessageW)               \
  X(user32, RegisterClassExW)           \
  X(user32, RemovePropW)                \
  X(user32, SendMessageW)               \
  X(user32, SetDlgItemTextW)            \
  X(user32, SetPropW)                   \
  X(user32, SetWindowLongPtrW)          \
  X(user32, SetWindowTextW)             \
  X(comdlg32, GetOpenFileNameW)         \
  X(shell32, ShellExecuteW)             \
  X(winmm, mciSendStringW)

// The same name after macro expansion, as a string ("GetWindowLongW" for
// GetWindowLongPtrW on 32-bit Windows): the name the DLLs export.
#define LIRROW_UNICODE_NAME(name) LIRROW_UNICODE_NAME_(name)
#define LIRROW_UNICODE_NAME_(name) #name

struct UnicodeCalls {
#define LIRROW_UNICODE_MEMBER(dll, name) decltype(&::name) name = nullptr;
  LIRROW_UNICODE_CALLS(LIRROW_UNICODE_MEMBER)
#undef LIRROW_UNICODE_MEMBER
};

// Where the table was filled from.
enum class UnicodeSource {
  kSystem,           // Windows NT: the system DLLs
  kLayer,            // Windows 95/98/ME: unicows.dll
  kLayerMissing,     // 95/98/ME without unicows.dll: the system's stubs
  kLayerIncomplete,  // unicows.dll lacks a function: the system's for those
};

// Fills the table (once; later calls return the first answer). The 9x branch
// is taken on Windows 95/98/ME; in the test tree's programs also wherever the
// environment variable LIRROW_TEST_WINDOWS_9X is "1".
UnicodeSource BindUnicodeCalls();

// The bound table; binds it first when nothing has yet (the runtime may call
// before the program's start-up does).
const UnicodeCalls& Wide();

// A file name in the ANSI code page, for the C runtime's narrow opens on
// Windows 95/98/ME. False when a character of `path` has no exact
// counterpart there: a best-fit or default substitute could open another
// file.
bool AnsiFileName(const std::wstring& path, std::string* name);

// The English notice shown when the table could not be filled from
// unicows.dll on Windows 95/98/ME (the program cannot work then), or an empty
// text when there is nothing to say. English only: without the layer the
// program cannot show its own texts.
std::string UnicodeNotice(UnicodeSource source);

}  // namespace lirrow

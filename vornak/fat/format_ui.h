// What the FAT formatter needs from the main dialog: its message boxes, one
// step of its message loop, its status line and its running flag, plus the
// dialog's texts that the formatter shows.
#pragma once

#include <cstdint>
#include <string>

namespace vornak {

class FormatUi {
 public:
  virtual ~FormatUi() = default;
  // MessageBoxA owned by the dialog; returns the button pressed.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
  // Removes at most one pending window message and dispatches it
  // (PeekMessageA with PM_REMOVE, TranslateMessage, DispatchMessageA).
  virtual void PumpOneMessage() = 0;
  // Sets the dialog's status text and transfers it to its control.
  virtual void ShowStatus(const std::string& text) = 0;
  // The running flag; cleared when the user confirms Stop.
  virtual bool IsRunning() = 0;
};

// The dialog texts the formatter shows (INI keys, English defaults).
struct FatTexts {
  std::string MsgLockFail = "Lock volume error!";
  std::string MsgSysAreaErr = "System area error!";
  std::string MsgInvalidVol = "Invalid volume label!";
  std::string MsgSystemAreaWrite = "Write system area";
  std::string MsgSystemAreaRead = "Read system area";
  std::string MsgDataAreaWrite = "Write data area";
  std::string MsgDataAreaRead = "Read data area";
};

namespace mb {
constexpr std::uint32_t MB_OK = 0x00000000u;
constexpr std::uint32_t MB_ICONHAND = 0x00000010u;      // stop
constexpr std::uint32_t MB_ICONASTERISK = 0x00000040u;  // information
}  // namespace mb

}  // namespace vornak

// What the FAT formatter needs from the main dialog: its message boxes, one
// step of its message loop, the progress of the Low passes and its running
// flag, plus the dialog's texts that the formatter shows.
#pragma once

#include <cstdint>
#include <string>

namespace vornak {

// Where a Low surface pass is, as numbers: the area and direction, the first
// sector of the chunk about to move and its share of the whole disk
// ((sector x 100) / total sectors, whole percent), or that the pass has
// covered the disk (end, percent 100).
struct PassProgress {
  bool write = true;
  bool dataArea = false;
  bool end = false;
  std::uint32_t sector = 0;
  std::uint32_t percent = 0;
  std::uint32_t totalSectors = 0;  // of the whole disk (both areas)
};

class FormatUi {
 public:
  virtual ~FormatUi() = default;
  // MessageBoxA owned by the dialog; returns the button pressed.
  virtual int MessageBoxA(const char* text, const char* caption, std::uint32_t type) = 0;
  // Removes at most one pending window message and dispatches it
  // (PeekMessageA with PM_REMOVE, TranslateMessage, DispatchMessageA).
  virtual void PumpOneMessage() = 0;
  // A Low pass moved on: the dialog sets its status text from the numbers
  // (PassStatusText) and shows it.
  virtual void ShowPassProgress(const PassProgress& progress) = 0;
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

// The dialog's status text for a pass's progress: "Write data area: 1313(1%)"
// ("%s: %d(%d%%)" with the area's text), or "Write data area: End".
std::string PassStatusText(const FatTexts& texts, const PassProgress& progress);

namespace mb {
constexpr std::uint32_t MB_OK = 0x00000000u;
constexpr std::uint32_t MB_ICONHAND = 0x00000010u;      // stop
constexpr std::uint32_t MB_ICONASTERISK = 0x00000040u;  // information
}  // namespace mb

}  // namespace vornak

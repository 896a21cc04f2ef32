// The formatter's main dialog as a state machine: its fields and flags, the
// data exchange with the controls, every handler, the format run, the system
// format command, the start-up files of a bootable disk and the results report.
//
// Nothing here touches Windows directly: the window and system calls go
// through DialogPlatform, the disk through DiskAccess on a DiskPlatform, and
// the start-up texts through StartupPlatform. The Win32 window
// (formatter_window_win32.cpp) only forwards messages to the handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../disk/disk_access.h"
#include "../fat/fat_layout.h"
#include "../fat/format_results.h"
#include "../fat/format_ui.h"
#include "../fat/surface_pass.h"
#include "../fat/system_area.h"
#include "dialog_platform.h"
#include "startup_platform.h"
#include "texts.h"

namespace vornak {

// The most characters of a volume label.
constexpr int kLabelMaxChars = 11;
// How long the system format command may run on a disk of `sizeBytes` before
// the run gives up on it: a whole-disk write at a slow 0.5 MB/s (a USB 1.1
// stick) plus two minutes.
std::uint32_t SystemFormatTimeoutMs(std::uint32_t sizeBytes);
// Marker copies tried after the system format command, one second apart.
constexpr int kMarkerAttempts = 60;

// The system format command's keyboard answers as stored on disk (text mode):
// an empty line, "y", an empty line.
extern const char kAnswerFileBytes[];
constexpr std::size_t kAnswerFileSize = 7;

// "E:/FS:FAT /A:2048/Q"
std::string SystemFormatArguments(const std::string& drive, std::uint32_t clusterBytes, bool quick);

class FormatterDialog : public FormatUi, public DiskUi {
 public:
  FormatterDialog(DialogPlatform& ui, DiskPlatform& disk, StartupPlatform& startup);
  ~FormatterDialog() override;

  FormatterDialog(const FormatterDialog&) = delete;
  FormatterDialog& operator=(const FormatterDialog&) = delete;

  // --- Fields ---------------------------------------------------------------
  FormatterTexts texts;
  std::uint16_t languageId = kLangEnglish;
  std::vector<std::string> driveList;
  int quickFlag = 1;
  int lowFlag = 0;
  int runningFlag = 0;
  int replugWaitFlag = 0;
  int pendingDeviceChangeFlag = 0;
  int knownDriveCount = 0;
  std::string labelText;
  std::string progressText = "Current:";
  std::string sectorCountText = "Total Sectors:";
  std::string statusText;
  IconHandle icon = 0;
  FatLayout layout;
  FormatResults results;
  BadClusterList badClusters;
  // Volume serial number of the image last written (Windows 98 re-plug check).
  std::uint32_t lastSerial = 0;
  // Whether a run lets the system's format command format the drive first on
  // the Windows 2000/XP family. Front ends on systems without that command
  // clear it; the run then goes straight to its own writing.
  bool useSystemFormat = true;

  const std::string& Family() const { return family_; }
  void SetFamily(const std::string& family);
  DiskAccess& Disk() { return disk_; }

  // The selected drive: the drive list entry at the combo box's selection
  // ("" when there is none).
  std::string SelectedDrive();

  // --- Data exchange --------------------------------------------------------
  // Save (controls to fields) or load (fields to controls). Save refuses a label
  // longer than 11 characters with the standard message and returns false.
  bool UpdateData(bool save);

  // --- Handlers -------------------------------------------------------------
  void OnInitDialog();
  void OnStart() { RunFormat(); }
  void SetModeQuick();
  void SetModeFull();
  void SetModeLow();
  void OnDriveSelChange();
  // The OK and Cancel commands (Exit button, Enter on it, Esc, close box).
  void OnExit();
  bool OnDriveChange(std::uint32_t event);
  // True when the command was the About item.
  bool OnSysCommand(std::uint32_t id);
  void OnSize(bool minimised);

  // --- The format run -------------------------------------------------------
  bool InspectDrive(const std::string& drive);
  void RunFormat();
  bool RunSystemFormat(const std::string& drive);
  bool WriteAnswerFile(const std::string& path);
  bool CopyBootFiles(const std::string& drive);

  // FormatUi
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  void PumpOneMessage() override;
  void ShowPassProgress(const PassProgress& progress) override;
  bool IsRunning() override { return runningFlag != 0; }

 private:
  void RefillCombo();
  void FailBox();
  FatTexts MakeFatTexts() const;
  // The system code page's lead bytes, for the label rules.
  LeadByteTest LeadBytes();
  // Steps after the image is built; returns normally to the ending.
  void RunBody(const std::string& drive, std::uint8_t* image, std::uint32_t imageSize,
               std::uint32_t size);
  bool WriteImage(const std::string& drive, const std::uint8_t* image, std::uint32_t imageSize);
  bool ReplugWait(const std::string& drive, const std::uint8_t* image);

  DialogPlatform& ui_;
  StartupPlatform& startup_;
  std::string family_;
  DiskAccess disk_;
  bool bootableWasEnabled_ = false;
  // A run is on the stack (also after Stop has cleared the running flag).
  bool inRun_ = false;
  // The size of the disk being formatted (the system format's time limit).
  std::uint32_t runDiskSize_ = 0;
  // How many times a drive has been inspected (a run compares before and after).
  unsigned inspections_ = 0;
  // The drive a run ended on (after a Windows 98 re-plug it may be another letter).
  std::string lastRunDrive_;
};

}  // namespace vornak

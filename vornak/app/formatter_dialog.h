// The formatter's main dialog as a state machine: its fields and flags, the
// data exchange with the controls, every handler, and the front end of the
// format run (format_run.h): it builds the run's request from its fields,
// shows what the run's callbacks ask for and takes the outcome back.
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
#include "format_run.h"
#include "startup_platform.h"
#include "texts.h"

namespace vornak {

class FormatterDialog : public FormatCallbacks {
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
  // The Start button: builds the request from the fields, runs FormatRun and
  // takes its outcome back into the fields.
  void RunFormat();
  bool WriteAnswerFile(const std::string& path);
  bool CopyBootFiles(const std::string& drive);

  // FormatCallbacks
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;
  void PumpOneMessage() override;
  void ShowPassProgress(const PassProgress& progress) override;
  bool IsRunning() override { return runningFlag != 0; }
  bool Confirm(const FormatRequest& request) override;
  void RunBegins() override;
  void PassesBegin() override;
  void CopyingBootFiles(bool copying) override;
  void Notice(FormatNotice kind, std::uint32_t systemError, const std::string& path) override;
  std::string AwaitReplug() override;
  void ShowReport(const std::string& drive, const FormatResults& figures) override;
  bool DeviceChangeNoted() override { return deviceChangeNoted_; }
  bool ListBootFiles(std::vector<std::string>& names) override {
    return ListBootFilesBesideProgram(ui_, names);
  }
  bool CopyBootFile(const std::string& name, const std::string& drive) override {
    return CopyBootFileBesideProgram(ui_, name, drive);
  }
  RunPlatform& Platform() override { return ui_; }

 private:
  void RefillCombo();
  void FailBox();
  FatTexts MakeFatTexts() const;
  // The system code page's lead bytes, for the label rules.
  LeadByteTest LeadBytes();
  FormatRequest MakeRequest();
  // Takes the outcome into the fields and gives the controls back.
  void EndRun(const FormatOutcome& outcome, unsigned inspectionsAtStart);

  DialogPlatform& ui_;
  StartupPlatform& startup_;
  std::string family_;
  DiskAccess disk_;
  bool bootableWasEnabled_ = false;
  // A run is on the stack, from its confirmation on (also after Stop has
  // cleared the running flag): device changes are only noted meanwhile.
  bool inRun_ = false;
  bool deviceChangeNoted_ = false;
  // The size InspectDrive measured, from which the layout was chosen.
  std::uint32_t inspectedSize_ = 0;
  // How many times a drive has been inspected (a run compares before and after).
  unsigned inspections_ = 0;
};

}  // namespace vornak

#include "formatter_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "../fat/system_area.h"
#include "../res/resource.h"
#include "startup.h"

namespace vornak {

namespace {

// The message of the label's data exchange when a text is too long.
constexpr const char* kLabelTooLong = "Please enter no more than 11 characters.";

// The six controls that follow the drive list's state.
constexpr int kDriveControls[] = {IDC_START, IDC_DRIVE, IDC_LABEL, IDC_QUICK, IDC_FULL, IDC_LOW};

// Byte offset of the volume serial number in the boot sector.
constexpr std::uint32_t kSerialOffset = 0x27;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

}  // namespace

const char kAnswerFileBytes[] = "\r\ny\r\n\r\n";
static_assert(sizeof kAnswerFileBytes - 1 == kAnswerFileSize, "seven bytes");

std::uint32_t SystemFormatTimeoutMs(std::uint32_t sizeBytes) {
  // 0.5 MB/s is 500 bytes per millisecond.
  return sizeBytes / 500u + 2u * 60u * 1000u;
}

std::string SystemFormatArguments(const std::string& drive, std::uint32_t clusterBytes,
                                  bool quick) {
  return drive + "/FS:FAT /A:" + std::to_string(clusterBytes) + (quick ? "/Q" : "");
}

// ---------------------------------------------------------------------------

FormatterDialog::FormatterDialog(DialogPlatform& ui, DiskPlatform& disk, StartupPlatform& startup)
    : texts(FormatterTexts::EnglishDefaults()),
      ui_(ui),
      startup_(startup),
      family_(GetOsFamily(disk)),
      disk_(disk, *this, family_, texts.MsgLockFail) {}

FormatterDialog::~FormatterDialog() = default;

void FormatterDialog::SetFamily(const std::string& family) {
  family_ = family;
  disk_.SetFamily(family);
}

std::string FormatterDialog::SelectedDrive() {
  const int sel = ui_.ComboGetSel(IDC_DRIVE);
  if (sel < 0 || static_cast<std::size_t>(sel) >= driveList.size()) return std::string();
  return driveList[static_cast<std::size_t>(sel)];
}

bool FormatterDialog::UpdateData(bool save) {
  if (save) {
    std::string label = ui_.GetControlText(IDC_LABEL);
    if (label.size() > static_cast<std::size_t>(kLabelMaxChars)) {
      ui_.MessageBoxA(kLabelTooLong, kAppName, dlg::kMbIconExclamation);
      ui_.SetFocus(IDC_LABEL);
      return false;
    }
    labelText = label;
    progressText = ui_.GetControlText(IDC_PROGRESS);
    sectorCountText = ui_.GetControlText(IDC_SECTORS);
    statusText = ui_.GetControlText(IDC_STATUS);
    return true;
  }
  ui_.LimitText(IDC_LABEL, kLabelMaxChars);
  ui_.SetControlText(IDC_LABEL, labelText);
  ui_.SetControlText(IDC_PROGRESS, progressText);
  ui_.SetControlText(IDC_SECTORS, sectorCountText);
  ui_.SetControlText(IDC_STATUS, statusText);
  return true;
}

void FormatterDialog::RefillCombo() {
  ui_.ComboReset(IDC_DRIVE);
  for (const std::string& d : driveList) ui_.ComboAdd(IDC_DRIVE, Upper(d));
  ui_.ComboSetSel(IDC_DRIVE, 0);
}

void FormatterDialog::OnInitDialog() {
  UpdateData(false);
  DialogTextsResult loaded = LoadDialogTexts(startup_, texts);
  languageId = loaded.languageId;
  icon = loaded.icon.handle;
  ui_.SetCaption(texts.Title);
  for (int i = 0; i < kControlTextCount; ++i) {
    ui_.SetControlText(kControlTexts[i].controlId, texts.*(kControlTexts[i].field));
  }

  if (ui_.AppendAboutItem(texts.AboutMenu)) ui_.EnableSystemMenuItem(4, false);
  runningFlag = 0;
  RefillCombo();
  ui_.SetCheck(IDC_QUICK, true);
  InspectDrive(driveList.empty() ? std::string() : driveList.front());
  ui_.SetIcon(icon);
  ui_.SetFocus(IDC_DRIVE);
}

void FormatterDialog::SetModeQuick() {
  quickFlag = 1;
  lowFlag = 0;
  ui_.SetCheck(IDC_QUICK, true);
  ui_.SetCheck(IDC_FULL, false);
  ui_.SetCheck(IDC_LOW, false);
  ui_.EnableControl(IDC_PROGRESS, false);
}

void FormatterDialog::SetModeFull() {
  quickFlag = 0;
  lowFlag = 0;
  ui_.SetCheck(IDC_QUICK, false);
  ui_.SetCheck(IDC_FULL, true);
  ui_.SetCheck(IDC_LOW, false);
  ui_.EnableControl(IDC_PROGRESS, false);
}

void FormatterDialog::SetModeLow() {
  quickFlag = 0;
  lowFlag = 1;
  ui_.SetCheck(IDC_QUICK, false);
  ui_.SetCheck(IDC_FULL, false);
  ui_.SetCheck(IDC_LOW, true);
  ui_.EnableControl(IDC_PROGRESS, true);
}

void FormatterDialog::OnDriveSelChange() { InspectDrive(SelectedDrive()); }

void FormatterDialog::OnExit() {
  if (!runningFlag) {
    ui_.EndDialog(dlg::kIdOk);
    return;
  }
  if (ui_.MessageBoxA(texts.MsgAYS.c_str(), "Format", dlg::kMbYesNo | dlg::kMbIconQuestion) ==
      dlg::kIdYes) {
    runningFlag = 0;
  }
}

bool FormatterDialog::OnDriveChange(std::uint32_t event) {
  const bool arrival = event == dlg::kDbtDeviceArrival;
  if (!arrival && event != dlg::kDbtDeviceRemoveComplete) return true;
  if (runningFlag && !replugWaitFlag) {
    pendingDeviceChangeFlag = 1;
    return true;
  }

  driveList.clear();
  ui_.ComboReset(IDC_DRIVE);
  const int n = ScanRemovableDrives(disk_, driveList);
  const bool enable = n > 0 && !runningFlag;
  for (int id : kDriveControls) ui_.EnableControl(id, enable);

  // Whatever the event (a removal may come back as a replayed arrival, and a
  // different disk may now sit behind the same letter), the size, label and
  // layout shown must be those of the disk now in the first drive: otherwise
  // a run would lay another disk's file system on it.
  if (n > 0) {
    InspectDrive(driveList.front());
  } else {
    driveList.push_back(" ");
    InspectDrive(driveList.front());
    if (!replugWaitFlag) ui_.SetCheck(IDC_BOOTABLE, false);
  }
  knownDriveCount = n;

  RefillCombo();
  pendingDeviceChangeFlag = 0;
  ui_.RedrawAll();
  return true;
}

bool FormatterDialog::OnSysCommand(std::uint32_t id) {
  if ((id & 0xFFF0u) != IDM_ABOUTBOX) return false;
  ui_.ShowAboutBox(texts.AboutBoxCaption, texts.AboutTool, texts.AboutCompany);
  return true;
}

void FormatterDialog::OnSize(bool minimised) {
  ui_.EnableSystemMenuItem(2, !minimised);
  ui_.EnableSystemMenuItem(3, !minimised);
}

// ---------------------------------------------------------------------------

int FormatterDialog::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  return ui_.MessageBoxA(text, caption, type);
}

void FormatterDialog::PumpOneMessage() { ui_.PumpOneMessage(); }

void FormatterDialog::ShowPassProgress(const PassProgress& progress) {
  progressText = PassStatusText(MakeFatTexts(), progress);
  ui_.SetPassStatus(IDC_PROGRESS, progressText, progress);
}

LeadByteTest FormatterDialog::LeadBytes() {
  return [this](unsigned char byte) { return ui_.IsDBCSLeadByte(byte); };
}

FatTexts FormatterDialog::MakeFatTexts() const {
  FatTexts t;
  t.MsgLockFail = texts.MsgLockFail;
  t.MsgSysAreaErr = texts.MsgSysAreaErr;
  t.MsgInvalidVol = texts.MsgInvalidVol;
  t.MsgSystemAreaWrite = texts.MsgSystemAreaWrite;
  t.MsgSystemAreaRead = texts.MsgSystemAreaRead;
  t.MsgDataAreaWrite = texts.MsgDataAreaWrite;
  t.MsgDataAreaRead = texts.MsgDataAreaRead;
  return t;
}

void FormatterDialog::FailBox() {
  ui_.MessageBoxA(texts.MsgFormatFail.c_str(), "Sorry!", dlg::kMbIconHand);
}

bool FormatterDialog::InspectDrive(const std::string& drive) {
  ++inspections_;
  char volume[150] = {0};
  char fsName[150] = {0};
  const std::string root = drive + "\\";
  const bool ok = disk_.Platform().GetVolumeInformationA(root.c_str(), volume, sizeof volume,
                                                         fsName, sizeof fsName);
  volume[sizeof volume - 1] = 0;
  labelText = ok ? std::string(volume) : std::string();
  if (!IsValidVolumeLabel(labelText, LeadBytes())) labelText.clear();

  const std::uint32_t size = drive.empty() ? 0 : disk_.GetDiskSize(drive);
  ui_.SetControlText(IDC_DRIVE_SIZE, Printf("%.2fM", static_cast<double>(size) / 1048576.0));
  sectorCountText = Printf("%s:%u", texts.MsgTotal.c_str(), size >> 9);
  progressText = texts.MsgCurrent + ":";

  ChooseLayout(size, layout);
  if (IsBootableAllowed(layout)) {
    ui_.EnableControl(IDC_BOOTABLE, true);
  } else {
    ui_.EnableControl(IDC_BOOTABLE, false);
    if (!replugWaitFlag) ui_.SetCheck(IDC_BOOTABLE, false);
  }
  UpdateData(false);
  return ok;
}

bool FormatterDialog::WriteImage(const std::string& drive, const std::uint8_t* image,
                                 std::uint32_t imageSize) {
  return disk_.WriteSectors(drive, image, 0, imageSize / 512u);
}

void FormatterDialog::RunFormat() {
  // The Low passes dispatch window messages, so a Start command (Enter) can
  // arrive while a run is under way: it must not begin a second one.
  if (inRun_) return;
  if (layout.kind == LayoutKind::Unsupported) {
    ui_.MessageBoxA(texts.MsgUnsupport.c_str(), "Sorry!", dlg::kMbIconHand);
    return;
  }
  if (!UpdateData(true)) return;
  results = FormatResults{};
  results.cluster = ClusterBytes(layout);

  std::string drive = SelectedDrive();
  const std::string caption = "Warning - Removable Disk(" + drive + ")";
  if (ui_.MessageBoxA(texts.MsgWarnFormat.c_str(), caption.c_str(),
                      dlg::kMbYesNo | dlg::kMbIconAsterisk) != dlg::kIdYes) {
    return;
  }

  inRun_ = true;
  ui_.SetWaitCursor(true);
  const std::uint32_t size = disk_.GetDiskSize(drive);
  runDiskSize_ = size;
  const std::uint32_t imageSize = ImageBufferSize(layout, size);
  std::unique_ptr<std::uint8_t[]> image(new (std::nothrow) std::uint8_t[imageSize]);
  bootableWasEnabled_ = ui_.IsControlEnabled(IDC_BOOTABLE);
  const unsigned inspectionsAtStart = inspections_;
  if (!image) {
    FailBox();
  } else {
    RunBody(drive, image.get(), imageSize, size);
    drive = lastRunDrive_;
  }

  // Ending, on every path after the confirmation.
  if (pendingDeviceChangeFlag) {
    runningFlag = 0;
    OnDriveChange(dlg::kDbtDeviceArrival);
  }
  // The drive controls come back only when a drive is listed: an empty list
  // (the single blank entry) keeps them disabled, as when the last disk is
  // pulled out while idle.
  const bool haveDrive = !driveList.empty() && driveList.front() != " ";
  for (int id : kDriveControls) ui_.EnableControl(id, haveDrive);
  ui_.EnableControl(IDC_EXIT, true);
  // Bootable gets its state back only where the disk now in the drive may be
  // made bootable; a disk inspected during the run or by the replay above (it
  // may be another) decides for itself.
  const bool reinspected = inspections_ != inspectionsAtStart;
  ui_.EnableControl(IDC_BOOTABLE,
                    IsBootableAllowed(layout) && (reinspected || bootableWasEnabled_));
  ui_.SetControlText(IDC_EXIT, texts.MsgExit);
  progressText = texts.MsgCurrent + ":";
  runningFlag = 0;
  ui_.SetWaitCursor(false);
  UpdateData(false);
  ui_.SetFocus(IDC_DRIVE);
  image.reset();
  ui_.NotifyShellChanged(drive + "\\");
  replugWaitFlag = 0;
  inRun_ = false;
}

void FormatterDialog::RunBody(const std::string& startDrive, std::uint8_t* image,
                              std::uint32_t imageSize, std::uint32_t size) {
  std::string drive = startDrive;
  lastRunDrive_ = drive;
  const FatTexts fatTexts = MakeFatTexts();
  bool quick = quickFlag != 0;
  SystemAreaState state{quick, labelText, results.bad, LeadBytes()};
  const SectorReader reader = [this, &drive](void* buffer, std::uint32_t first,
                                             std::uint32_t count) {
    return disk_.ReadSectors(drive, buffer, first, count);
  };
  const bool built = BuildSystemArea(image, imageSize, layout, state, reader, *this, fatTexts);
  quickFlag = quick ? 1 : 0;
  const std::uint32_t a = 2u * layout.fatSectors + 33u;
  const std::uint32_t t = size >> 9;

  for (int id : kDriveControls) ui_.EnableControl(id, false);
  ui_.EnableControl(IDC_EXIT, false);
  ui_.EnableControl(IDC_BOOTABLE, false);
  runningFlag = 1;
  UpdateData(false);

  if (!built || t < a) {
    FailBox();
    return;
  }
  if (!RunSystemFormat(drive)) {
    FailBox();
    return;
  }

  bool passesDone = false;
  if (lowFlag) {
    ui_.EnableControl(IDC_EXIT, true);
    ui_.SetControlText(IDC_EXIT, texts.MsgStop);
    if (!WriteImage(drive, image, imageSize)) {
      FailBox();
      return;
    }
    pendingDeviceChangeFlag = 0;
    SurfaceState surface{badClusters, results.bad};
    bool ok = SurfacePass(disk_, *this, fatTexts, layout, drive, a, t - a, image, PassMode::Write,
                          surface);
    if (ok) {
      ok = SurfacePass(disk_, *this, fatTexts, layout, drive, a, t - a, image, PassMode::Verify,
                       surface);
    }
    if (!ok) {
      if (runningFlag) FailBox();
      if (!WriteImage(drive, image, imageSize)) FailBox();
      passesDone = true;  // go on at the wait
    }
  }

  if (!passesDone) {
    if (family_ == kFamilyWindows98) Put32(image + kSerialOffset, ui_.GetTickCount());
    if (!WriteImage(drive, image, imageSize)) {
      FailBox();
      return;
    }
  }
  lastSerial = Get32(image + kSerialOffset);

  ui_.Sleep(5000);

  if (family_ == kFamilyWindows98) {
    if (!ReplugWait(drive, image)) return;
    drive = SelectedDrive();
    lastRunDrive_ = drive;
  }

  if (ui_.GetCheck(IDC_BOOTABLE)) {
    results.system = SystemFilesBytes(layout, results.cluster);
    if (!CopyBootFiles(drive)) {
      FailBox();
      return;
    }
  }

  results.total = UsableDataBytes(layout, size, results.cluster);
  const std::string report = ResultsReportText(languageId, results);
  const std::string caption = "Format Results - Removable Disk(" + drive + ")";
  ui_.MessageBoxA(report.c_str(), caption.c_str(), dlg::kMbOk);
}

bool FormatterDialog::ReplugWait(const std::string& drive, const std::uint8_t* image) {
  (void)drive;
  for (;;) {
    driveList.clear();
    ui_.ComboReset(IDC_DRIVE);
    replugWaitFlag = 1;
    knownDriveCount = 0;
    do {
      if (ui_.MessageBoxA(texts.MsgPlug.c_str(), "Format",
                          dlg::kMbOkCancel | dlg::kMbIconAsterisk) != dlg::kIdOk) {
        OnDriveChange(dlg::kDbtDeviceRemoveComplete);
        return false;
      }
    } while (knownDriveCount != 1);
    replugWaitFlag = 0;

    std::uint8_t sector[512];
    const std::string now = SelectedDrive();
    if (!now.empty() && disk_.ReadSectors(now, sector, 0, 1) &&
        Get32(sector + kSerialOffset) == Get32(image + kSerialOffset)) {
      return true;
    }
  }
}

// ---------------------------------------------------------------------------

bool FormatterDialog::WriteAnswerFile(const std::string& path) {
  if (!ui_.WriteWholeFile(path, std::string(kAnswerFileBytes, kAnswerFileSize))) {
    ui_.MessageBoxA(path.c_str(), "Can not create temp file!", dlg::kMbOk);
    return false;
  }
  return true;
}

bool FormatterDialog::RunSystemFormat(const std::string& drive) {
  if (family_ == kFamilyWindows98 || !useSystemFormat) return true;

  const std::string windows = ui_.GetWindowsDirectoryA();
  const std::string formatPath = windows + "\\system32\\format.com ";
  const std::string answerPath = windows + "\\tmptmp.tmp";
  if (!ui_.CanOpenForReading(formatPath)) return false;
  if (!WriteAnswerFile(answerPath)) return false;

  const std::string commandLine = "cmd /c " + formatPath +
                                  SystemFormatArguments(drive, results.cluster, quickFlag != 0) +
                                  " < " + answerPath;
  const ProcessHandle process = ui_.StartHidden(commandLine);
  if (!process) return false;

  // The formatter's own sectors must not be written while the system format
  // may still be working on the drive: wait for the command to end. A command
  // that hangs (for example on a question its answers do not cover) is ended
  // after the time limit and the run fails, since the state of the drive is
  // then unknown.
  const WaitResult waited = ui_.WaitForProcess(process, SystemFormatTimeoutMs(runDiskSize_));
  if (waited != WaitResult::Exited) {
    ui_.TerminateProcess(process);
    ui_.CloseProcess(process);
    ui_.DeleteFileA(answerPath);
    return false;
  }
  ui_.CloseProcess(process);

  const std::string marker = SelectedDrive() + "\\finish";
  for (int attempt = 0; attempt < kMarkerAttempts; ++attempt) {
    if (ui_.CopyFileA(answerPath, marker, false)) break;
    ui_.Sleep(1000);
  }
  ui_.DeleteFileA(marker);
  ui_.DeleteFileA(answerPath);
  return true;
}

bool FormatterDialog::CopyBootFiles(const std::string& drive) {
  const std::string program = ui_.GetModuleFileNameA();
  const std::size_t slash = program.rfind('\\');
  if (slash == std::string::npos) return false;
  const std::string source = program.substr(0, slash) + "\\sys\\";

  FindEntry entry;
  const FindHandle search = ui_.FindFirstFileA(source + "*.*", entry);
  if (!search) return false;

  statusText = texts.MsgMaking;
  UpdateData(false);

  // io.sys goes first so that it takes the first directory entry.
  ui_.CopyFileA(source + "io.sys", drive + "\\io.sys", false);
  ui_.Sleep(3000);

  bool result = true;
  do {
    if (IsDotEntry(entry.name) || (entry.attributes & dlg::kFileAttributeDirectory)) continue;
    // io.sys is on the disk already; a real one is read-only and hidden, and
    // CopyFile refuses to overwrite such a file.
    if (Upper(entry.name) == "IO.SYS") continue;
    if (!ui_.CopyFileA(source + entry.name, drive + "\\" + entry.name, false)) {
      result = false;
      break;
    }
  } while (ui_.FindNextFileA(search, entry));

  ui_.FindClose(search);
  statusText.clear();
  UpdateData(false);
  return result;
}

}  // namespace vornak

#include "formatter_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "../fat/system_area.h"
#include "../res/resource.h"
#include "startup.h"

namespace vornak {

namespace {

// The message of the label's data exchange when a text is too long.
constexpr const char* kLabelTooLong = "Please enter no more than 11 characters.";

// The six controls that follow the drive list's state.
constexpr int kDriveControls[] = {IDC_START, IDC_DRIVE, IDC_LABEL, IDC_QUICK, IDC_FULL, IDC_LOW};

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

}  // namespace

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
  for (const std::string& d : driveList) ui_.ComboAdd(IDC_DRIVE, UpperAscii(d));
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
  // From the confirmation on, the run owns the drive, the layout and the
  // selection: a change is only noted, and replayed once the run has ended.
  if (inRun_ && !replugWaitFlag) {
    pendingDeviceChangeFlag = 1;
    deviceChangeNoted_ = true;
    return true;
  }

  driveList.clear();
  ui_.ComboReset(IDC_DRIVE);
  const int n = ScanRemovableDrives(disk_, driveList);
  const bool enable = n > 0 && !runningFlag;
  for (int id : kDriveControls) ui_.EnableControl(id, enable);

  // Whatever the event (a removal may come back as a replayed arrival, and a
  // different disk may now sit behind the same letter), the size, label and
  // layout shown must be those of the disk now in the first drive.
  if (n > 0) {
    InspectDrive(driveList.front());
  } else {
    driveList.push_back(" ");
    InspectDrive(driveList.front());
    if (!replugWaitFlag) ui_.SetCheck(IDC_BOOTABLE, false);
  }
  // The count rises on an arrival and falls only on a removal from a higher
  // count, so that the re-plug wait ends on an arrival, never on another
  // drive being pulled out.
  if (arrival ? n > knownDriveCount : n == 0 || n < knownDriveCount) knownDriveCount = n;

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

bool FormatterDialog::InspectDrive(const std::string& drive) {
  ++inspections_;
  const bool ok = ReadVolumeLabel(disk_, drive, labelText, LeadBytes());

  const std::uint32_t size = drive.empty() ? 0 : disk_.GetDiskSize(drive);
  inspectedSize_ = size;
  if (size == kDiskTooLarge) {
    // Its real size does not fit the figures; the layout refuses it below.
    ui_.SetControlText(IDC_DRIVE_SIZE, texts.MsgUnsupport);
    sectorCountText = texts.MsgTotal + ":";
  } else {
    ui_.SetControlText(IDC_DRIVE_SIZE, Printf("%.2fM", static_cast<double>(size) / 1048576.0));
    sectorCountText = Printf("%s:%u", texts.MsgTotal.c_str(), size >> 9);
  }
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

// --- The format run: the dialog as its front end ------------------------------

FormatRequest FormatterDialog::MakeRequest() {
  FormatRequest request;
  request.drive = SelectedDrive();
  request.identity.sizeBytes = inspectedSize_;
  request.layout = layout;
  request.mode = lowFlag ? FormatMode::Low : quickFlag ? FormatMode::Quick : FormatMode::Full;
  request.label = labelText;
  request.bootable = ui_.GetCheck(IDC_BOOTABLE);
  request.languageId = languageId;
  request.texts = MakeFatTexts();
  request.isLeadByte = LeadBytes();
  request.family = family_;
  request.useSystemFormat = useSystemFormat;
  return request;
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

  const FormatRequest request = MakeRequest();
  bootableWasEnabled_ = ui_.IsControlEnabled(IDC_BOOTABLE);
  const unsigned inspectionsAtStart = inspections_;
  inRun_ = true;
  deviceChangeNoted_ = false;
  const FormatOutcome outcome = FormatRun(request, *this, disk_);
  if (outcome.status == FormatStatus::Declined) {
    inRun_ = false;
    if (pendingDeviceChangeFlag) OnDriveChange(dlg::kDbtDeviceArrival);
    return;
  }
  EndRun(outcome, inspectionsAtStart);
}

void FormatterDialog::EndRun(const FormatOutcome& outcome, unsigned inspectionsAtStart) {
  results = outcome.results;
  badClusters = outcome.badClusters;
  lastSerial = outcome.serial;
  labelText = outcome.label;
  if (outcome.mode == FormatMode::Full && quickFlag) quickFlag = 0;

  // Ending, on every path after the confirmation: a change noted during the
  // run is replayed once, now that nothing holds the drive.
  inRun_ = false;
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
  // may be another) decides for itself, and one that may not is unchecked.
  const bool reinspected = inspections_ != inspectionsAtStart;
  const bool bootable = IsBootableAllowed(layout);
  ui_.EnableControl(IDC_BOOTABLE, bootable && (reinspected || bootableWasEnabled_));
  if (!bootable) ui_.SetCheck(IDC_BOOTABLE, false);
  ui_.SetControlText(IDC_EXIT, texts.MsgExit);
  progressText = texts.MsgCurrent + ":";
  runningFlag = 0;
  ui_.SetWaitCursor(false);
  UpdateData(false);
  ui_.SetFocus(IDC_DRIVE);
  replugWaitFlag = 0;
}

bool FormatterDialog::Confirm(const FormatRequest& request) {
  const std::string caption = "Warning - Removable Disk(" + request.drive + ")";
  if (ui_.MessageBoxA(texts.MsgWarnFormat.c_str(), caption.c_str(),
                      dlg::kMbYesNo | dlg::kMbIconAsterisk) != dlg::kIdYes) {
    return false;
  }
  ui_.SetWaitCursor(true);
  return true;
}

void FormatterDialog::RunBegins() {
  for (int id : kDriveControls) ui_.EnableControl(id, false);
  ui_.EnableControl(IDC_EXIT, false);
  ui_.EnableControl(IDC_BOOTABLE, false);
  runningFlag = 1;
  UpdateData(false);
}

void FormatterDialog::PassesBegin() {
  ui_.EnableControl(IDC_EXIT, true);
  ui_.SetControlText(IDC_EXIT, texts.MsgStop);
}

void FormatterDialog::CopyingBootFiles(bool copying) {
  if (copying) {
    statusText = texts.MsgMaking;
  } else {
    statusText.clear();
  }
  UpdateData(false);
}

void FormatterDialog::Notice(FormatNotice kind, std::uint32_t systemError,
                             const std::string& path) {
  (void)systemError;  // the dialog's box names no system error
  if (kind == FormatNotice::TempFileNotCreated) {
    ui_.MessageBoxA(path.c_str(), "Can not create temp file!", dlg::kMbOk);
  } else if (kind == FormatNotice::BootFileNotCopied) {
    const std::string text = texts.MsgFormatFail + "\n\n" + path;
    ui_.MessageBoxA(text.c_str(), "Sorry!", dlg::kMbIconHand);
  } else {
    ui_.MessageBoxA(texts.MsgFormatFail.c_str(), "Sorry!", dlg::kMbIconHand);
  }
}

std::string FormatterDialog::AwaitReplug() {
  driveList.clear();
  ui_.ComboReset(IDC_DRIVE);
  replugWaitFlag = 1;
  knownDriveCount = 0;
  do {
    if (ui_.MessageBoxA(texts.MsgPlug.c_str(), "Format", dlg::kMbOkCancel | dlg::kMbIconAsterisk) !=
        dlg::kIdOk) {
      OnDriveChange(dlg::kDbtDeviceRemoveComplete);
      return std::string();
    }
  } while (knownDriveCount != 1);
  replugWaitFlag = 0;
  return SelectedDrive();
}

void FormatterDialog::ShowReport(const std::string& drive, const FormatResults& figures) {
  results = figures;
  const std::string report = ResultsReportText(languageId, figures);
  const std::string caption = "Format Results - Removable Disk(" + drive + ")";
  ui_.MessageBoxA(report.c_str(), caption.c_str(), dlg::kMbOk);
}

bool FormatterDialog::WriteAnswerFile(const std::string& path) {
  return vornak::WriteAnswerFile(*this, path);
}

bool FormatterDialog::CopyBootFiles(const std::string& drive) {
  return vornak::CopyBootFiles(*this, drive);
}

}  // namespace vornak

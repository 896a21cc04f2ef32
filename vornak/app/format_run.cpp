#include "format_run.h"

#include <memory>
#include <new>

namespace vornak {

namespace {

// Byte offset of the volume serial number in the boot sector.
constexpr std::uint32_t kSerialOffset = 0x27;
// GetDriveType answers below this are no drive at all (DRIVE_UNKNOWN,
// DRIVE_NO_ROOT_DIR).
constexpr std::uint32_t kFirstDriveType = 2;
constexpr std::uint32_t kFileAttributeDirectory = 0x00000010u;

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

// Whether GetLogicalDriveStrings lists the root ("E:\\"), in any case.
bool Listed(DiskPlatform& platform, const std::string& root) {
  char roots[512] = {0};
  const std::uint32_t n = platform.GetLogicalDriveStringsA(sizeof roots, roots);
  // 0 is failure; a value above the buffer is the size it would have needed.
  if (n == 0 || n > sizeof roots) return false;
  for (std::uint32_t i = 0; i < n && roots[i] != '\0';) {
    const std::string listed(roots + i);
    i += static_cast<std::uint32_t>(listed.size()) + 1;
    if (UpperAscii(listed) == UpperAscii(root)) return true;
  }
  return false;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// One run: the request, the front end, the disk, and what the run has done.
class Runner {
 public:
  Runner(const FormatRequest& request, FormatCallbacks& callbacks, DiskAccess& disk)
      : request_(request), cb_(callbacks), disk_(disk), drive_(request.drive) {
    outcome_.drive = drive_;
    outcome_.mode = request.mode;
    outcome_.label = request.label;
    outcome_.results.cluster = ClusterBytes(request.layout);
  }
  FormatOutcome Go();

 private:
  bool Body();
  bool Prepare();
  bool Pass(PassMode mode, SurfaceState& surface);
  bool LowPasses(bool& passesDone);
  bool WriteImage();
  bool ReplugWait();
  bool BootFiles();
  void Report();
  bool RunSystemFormat();
  bool WaitForSystemFormat(const std::string& commandLine, const std::string& answerPath);
  // The drive still holds the disk the run was confirmed for.
  bool SameDisk();
  // Ends the run with "Format fail!" at `step`; returns false for the caller.
  bool Fail(FormatStep step, std::uint32_t systemError = 0, const std::string& file = {});
  std::uint32_t DataStart() const { return 2u * request_.layout.fatSectors + 33u; }
  std::uint32_t TotalSectors() const { return request_.identity.sizeBytes >> 9; }

  const FormatRequest& request_;
  FormatCallbacks& cb_;
  DiskAccess& disk_;
  std::string drive_;
  FormatOutcome outcome_;
  std::unique_ptr<std::uint8_t[]> image_;
  std::uint32_t imageSize_ = 0;
  bool removable_ = false;
  bool measureAgain_ = false;  // the disk was re-plugged: its size is measured again
  bool driveLost_ = false;     // a pass did not start: the drive holds another disk
};

FormatOutcome Runner::Go() {
  if (Body()) outcome_.status = FormatStatus::Formatted;
  image_.reset();
  cb_.Platform().NotifyShellChanged(drive_ + "\\");
  outcome_.drive = drive_;
  return outcome_;
}

bool Runner::Fail(FormatStep step, std::uint32_t systemError, const std::string& file) {
  outcome_.status = FormatStatus::Failed;
  outcome_.failedStep = step;
  outcome_.systemError = systemError;
  cb_.Notice(file.empty() ? FormatNotice::FormatFail : FormatNotice::BootFileNotCopied, systemError,
             file);
  return false;
}

bool Runner::SameDisk() {
  const std::string root = drive_ + "\\";
  if (!Listed(disk_.Platform(), root)) return false;
  if (disk_.Platform().GetDriveTypeA(root.c_str()) < kFirstDriveType) return false;
  if (disk_.IsRemovableDisk(drive_) != removable_) return false;
  // The system format command and the user both cause device notices; only
  // the size says whether the disk behind the letter is still the same one.
  if (!measureAgain_ && !cb_.DeviceChangeNoted()) return true;
  return disk_.GetDiskSize(drive_) == request_.identity.sizeBytes;
}

// Measures the disk again, builds the image and tells the front end that the
// run is under way.
bool Runner::Prepare() {
  removable_ = disk_.IsRemovableDisk(drive_);
  measureAgain_ = true;
  const bool same = SameDisk();
  measureAgain_ = false;
  if (!same) return Fail(FormatStep::DriveChanged);
  imageSize_ = ImageBufferSize(request_.layout, request_.identity.sizeBytes);
  image_.reset(new (std::nothrow) std::uint8_t[imageSize_]);
  if (!image_) return Fail(FormatStep::Memory);

  bool quick = request_.mode == FormatMode::Quick;
  SystemAreaState state{quick, outcome_.label, outcome_.results.bad, request_.isLeadByte};
  const SectorReader reader = [this](void* buffer, std::uint32_t first, std::uint32_t count) {
    return disk_.ReadSectors(drive_, buffer, first, count);
  };
  const bool built = BuildSystemArea(image_.get(), imageSize_, request_.layout, state, reader, cb_,
                                     request_.texts);
  if (request_.mode == FormatMode::Quick && !quick) outcome_.mode = FormatMode::Full;
  cb_.RunBegins();
  if (!built || TotalSectors() < DataStart()) return Fail(FormatStep::SystemArea);
  return true;
}

bool Runner::WriteImage() {
  if (!SameDisk()) return Fail(FormatStep::DriveChanged);
  if (!disk_.WriteSectors(drive_, image_.get(), 0, imageSize_ / 512u))
    return Fail(FormatStep::ImageWrite, disk_.Platform().GetLastError());
  outcome_.imageWritten = true;
  outcome_.serial = Get32(image_.get() + kSerialOffset);
  return true;
}

bool Runner::Pass(PassMode mode, SurfaceState& surface) {
  if (!SameDisk()) {
    driveLost_ = true;
    return false;
  }
  const std::uint32_t a = DataStart();
  const bool covered =
      SurfacePass(disk_, cb_, request_.texts, request_.layout, drive_, a, TotalSectors() - a,
                  image_.get(), mode, surface, request_.surface);
  if (mode == PassMode::Verify) {
    outcome_.verified = covered;
    outcome_.unreadableSectors = surface.findings->unreadableSectors;
    outcome_.misplacedSectors = surface.findings->misplacedSectors;
  }
  return covered;
}

// False when the run ends here; `passesDone` when a pass failed or was
// stopped and the image has been written again (the run goes on at the wait).
bool Runner::LowPasses(bool& passesDone) {
  cb_.PassesBegin();
  if (!WriteImage()) return false;
  SurfaceFindings findings;
  SurfaceState surface{outcome_.badClusters, outcome_.results.bad, &findings};
  if (Pass(PassMode::Write, surface) && Pass(PassMode::Verify, surface)) return true;
  if (driveLost_) return Fail(FormatStep::DriveChanged);
  if (!cb_.IsRunning()) {
    outcome_.stopped = true;
  } else {
    outcome_.passesFailed = true;
    cb_.Notice(FormatNotice::FormatFail, 0, std::string());
  }
  // A pass that failed because the disk was pulled out must not be followed
  // by a write to whatever is now behind the letter; "Format fail!" has been
  // shown already unless the user stopped.
  if (!SameDisk()) {
    if (outcome_.stopped) return Fail(FormatStep::DriveChanged);
    outcome_.status = FormatStatus::Failed;
    outcome_.failedStep = FormatStep::DriveChanged;
    return false;
  }
  if (!disk_.WriteSectors(drive_, image_.get(), 0, imageSize_ / 512u)) {
    outcome_.rewriteFailed = true;
    cb_.Notice(FormatNotice::FormatFail, disk_.Platform().GetLastError(), std::string());
  }
  passesDone = true;
  return true;
}

// Windows 98: the disk is pulled out and plugged in again until the disk
// back in the drive carries the serial number just written.
bool Runner::ReplugWait() {
  for (;;) {
    const std::string now = cb_.AwaitReplug();
    if (now.empty()) {
      outcome_.status = FormatStatus::ReplugCancelled;
      return false;
    }
    std::uint8_t sector[512];
    if (disk_.ReadSectors(now, sector, 0, 1) &&
        Get32(sector + kSerialOffset) == Get32(image_.get() + kSerialOffset)) {
      drive_ = now;
      measureAgain_ = true;
      return true;
    }
  }
}

bool Runner::BootFiles() {
  outcome_.results.system = SystemFilesBytes(request_.layout, outcome_.results.cluster);
  if (!SameDisk()) return Fail(FormatStep::DriveChanged);
  if (!CopyBootFiles(cb_, drive_, &outcome_.bootFileFailed))
    return Fail(FormatStep::BootFiles, 0, outcome_.bootFileFailed);
  outcome_.bootFilesCopied = true;
  return true;
}

void Runner::Report() {
  outcome_.results.total =
      UsableDataBytes(request_.layout, request_.identity.sizeBytes, outcome_.results.cluster);
  cb_.ShowReport(drive_, outcome_.results);
}

bool Runner::Body() {
  if (!Prepare()) return false;
  if (!SameDisk()) return Fail(FormatStep::DriveChanged);
  if (!RunSystemFormat()) return Fail(FormatStep::SystemFormat);
  bool passesDone = false;
  if (request_.mode == FormatMode::Low && !LowPasses(passesDone)) return false;
  const bool win98 = request_.family == kFamilyWindows98;
  if (!passesDone) {
    if (win98) Put32(image_.get() + kSerialOffset, cb_.Platform().GetTickCount());
    if (!WriteImage()) return false;
  }
  cb_.Platform().Sleep(5000);
  if (win98 && !ReplugWait()) return false;
  if (request_.bootable && !BootFiles()) return false;
  Report();
  return true;
}

// --- The system format command -----------------------------------------------

bool Runner::RunSystemFormat() {
  if (request_.family == kFamilyWindows98 || !request_.useSystemFormat) return true;
  RunPlatform& p = cb_.Platform();
  const std::string windows = p.GetWindowsDirectoryA();
  const std::string formatPath = windows + "\\system32\\format.com ";
  const std::string answerPath = windows + "\\tmptmp.tmp";
  if (!p.CanOpenForReading(formatPath)) return false;
  if (!WriteAnswerFile(cb_, answerPath)) return false;
  const bool quick = outcome_.mode == FormatMode::Quick;
  const std::string commandLine = "cmd /c " + formatPath +
                                  SystemFormatArguments(drive_, outcome_.results.cluster, quick) +
                                  " < " + answerPath;
  if (!WaitForSystemFormat(commandLine, answerPath)) return false;

  const std::string marker = drive_ + "\\finish";
  for (int attempt = 0; attempt < kMarkerAttempts; ++attempt) {
    if (p.CopyFileA(answerPath, marker, false)) break;
    p.Sleep(1000);
  }
  p.DeleteFileA(marker);
  p.DeleteFileA(answerPath);
  return true;
}

// The formatter's own sectors must not be written while the system format
// may still be working on the drive: the run waits for the command to end. A
// command that hangs (for example on a question its answers do not cover) is
// ended after the time limit and the run fails, since the state of the drive
// is then unknown.
bool Runner::WaitForSystemFormat(const std::string& commandLine, const std::string& answerPath) {
  RunPlatform& p = cb_.Platform();
  const ProcessHandle process = p.StartHidden(commandLine);
  if (!process) return false;
  const WaitResult waited =
      p.WaitForProcess(process, SystemFormatTimeoutMs(request_.identity.sizeBytes));
  if (waited != WaitResult::Exited) {
    p.TerminateProcess(process);
    p.CloseProcess(process);
    p.DeleteFileA(answerPath);
    return false;
  }
  p.CloseProcess(process);
  return true;
}

}  // namespace

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool ReadVolumeLabel(DiskAccess& disk, const std::string& drive, std::string& label,
                     const LeadByteTest& isLeadByte) {
  char volume[150] = {0};
  char fsName[150] = {0};
  const std::string root = drive + "\\";
  const bool ok = disk.Platform().GetVolumeInformationA(root.c_str(), volume, sizeof volume, fsName,
                                                        sizeof fsName);
  volume[sizeof volume - 1] = 0;
  label = ok ? std::string(volume) : std::string();
  if (!IsValidVolumeLabel(label, isLeadByte)) label.clear();
  return ok;
}

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

bool WriteAnswerFile(FormatCallbacks& callbacks, const std::string& path) {
  if (!callbacks.Platform().WriteWholeFile(path, std::string(kAnswerFileBytes, kAnswerFileSize))) {
    callbacks.Notice(FormatNotice::TempFileNotCreated, 0, path);
    return false;
  }
  return true;
}

bool CopyBootFiles(FormatCallbacks& callbacks, const std::string& drive, std::string* failed) {
  std::vector<std::string> names;
  if (!callbacks.ListBootFiles(names)) return false;
  callbacks.CopyingBootFiles(true);
  // io.sys goes first so that it takes the first directory entry; a disk
  // without it does not start, so its copy failing fails the step.
  std::string failure;
  if (callbacks.CopyBootFile("io.sys", drive)) {
    callbacks.Platform().Sleep(3000);
    for (const std::string& name : names) {
      // io.sys is on the disk already; a real one is read-only and hidden,
      // and a copy over it is refused.
      if (UpperAscii(name) == "IO.SYS") continue;
      if (!callbacks.CopyBootFile(name, drive)) {
        failure = name;
        break;
      }
    }
  } else {
    failure = "io.sys";
  }
  callbacks.CopyingBootFiles(false);
  if (failed) *failed = failure;
  return failure.empty();
}

namespace {

// The `sys` folder beside the program, with its trailing backslash; "" when
// the program's path names no folder.
std::string BootFolder(RunPlatform& platform) {
  const std::string program = platform.GetModuleFileNameA();
  const std::size_t slash = program.rfind('\\');
  if (slash == std::string::npos) return std::string();
  return program.substr(0, slash) + "\\sys\\";
}

}  // namespace

bool ListBootFilesBesideProgram(RunPlatform& platform, std::vector<std::string>& names) {
  const std::string source = BootFolder(platform);
  if (source.empty()) return false;
  FindEntry entry;
  const FindHandle search = platform.FindFirstFileA(source + "*.*", entry);
  if (!search) return false;
  do {
    if (IsDotEntry(entry.name) || (entry.attributes & kFileAttributeDirectory)) continue;
    names.push_back(entry.name);
  } while (platform.FindNextFileA(search, entry));
  platform.FindClose(search);
  return true;
}

bool CopyBootFileBesideProgram(RunPlatform& platform, const std::string& name,
                               const std::string& drive) {
  const std::string source = BootFolder(platform);
  return !source.empty() && platform.CopyFileA(source + name, drive + "\\" + name, false);
}

FormatOutcome FormatRun(const FormatRequest& request, FormatCallbacks& callbacks,
                        DiskAccess& disk) {
  FormatOutcome outcome;
  if (request.layout.kind == LayoutKind::Unsupported) {
    outcome.status = FormatStatus::Refused;
    return outcome;
  }
  if (!callbacks.Confirm(request)) return outcome;
  return Runner(request, callbacks, disk).Go();
}

}  // namespace vornak

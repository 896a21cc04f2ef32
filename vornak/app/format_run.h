// The format run as a component: a request taken once, when the user has
// confirmed, callbacks in kinds and numbers, and an outcome value.
//
// The run carries a format from the confirmation to the results report: the
// system area image, the system format command, the Low passes, the image
// writes, the Windows 98 re-plug check, the start-up files and the figures.
// It writes only to the disk it was confirmed for: before every step that
// writes, it checks that the drive is still there, still as removable as it
// was and, once a device change has been noted, still of the same size.
// The dialog and the Linux front end are its two adapters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../disk/disk_access.h"
#include "../fat/fat_layout.h"
#include "../fat/format_results.h"
#include "../fat/format_ui.h"
#include "../fat/surface_pass.h"
#include "../fat/system_area.h"
#include "run_platform.h"

namespace vornak {

enum class FormatMode { Quick, Full, Low };

// What the disk was when the run was confirmed. The size is the one the
// layout was chosen from.
struct DiskIdentity {
  std::uint32_t sizeBytes = 0;
};

// What the user chose, taken once, when the run starts.
struct FormatRequest {
  std::string drive;  // "E:"
  DiskIdentity identity;
  FatLayout layout;  // chosen from identity.sizeBytes
  FormatMode mode = FormatMode::Quick;
  std::string label;  // as typed; validated and upper-cased by the run
  bool bootable = false;
  std::uint16_t languageId = 0x0409;
  FatTexts texts;           // the texts the engines show
  LeadByteTest isLeadByte;  // the system code page's double-byte characters
  std::string family;
  // Whether the system's format command formats the drive first on the
  // Windows 2000/XP family (front ends on systems without it clear this).
  bool useSystemFormat = true;
  // How the Low passes move their data; the defaults are the dialog's.
  SurfaceOptions surface;
};

// What a run tells its front end to show.
enum class FormatNotice {
  FormatFail,          // "Format fail!" ("Sorry!", stop icon)
  TempFileNotCreated,  // the answer file could not be created (its path given)
  BootFileNotCopied,   // "Format fail!" for a start-up file (its name given)
};

enum class FormatStatus {
  Formatted,        // the report was shown
  Failed,           // ended with "Format fail!"
  Declined,         // the confirmation was answered No; nothing happened
  Refused,          // the layout is unsupported; nothing happened
  ReplugCancelled,  // Windows 98: the re-plug prompt was cancelled; no report
};

// The step a failed run ended at.
enum class FormatStep {
  None,
  Memory,        // the image buffer could not be allocated
  DriveChanged,  // the drive is gone, or now holds another disk
  SystemArea,    // the image could not be built for this disk
  SystemFormat,  // the system format command failed
  ImageWrite,    // writing the system area failed
  BootFiles,     // a start-up file could not be copied
};

struct FormatOutcome {
  FormatStatus status = FormatStatus::Declined;
  FormatStep failedStep = FormatStep::None;
  std::uint32_t systemError = 0;        // GetLastError after a failed disk write, else 0
  bool stopped = false;                 // the user stopped the Low passes
  bool passesFailed = false;            // a Low pass failed (shown, then the image rewritten)
  bool rewriteFailed = false;           // writing the image again after them failed (shown)
  FormatMode mode = FormatMode::Quick;  // Quick turns Full when the old FAT is unreadable
  std::string label;                    // the label written ("" when dropped)
  std::string drive;                    // the drive the run ended on (Windows 98: re-plugged)
  FormatResults results;
  BadClusterList badClusters;
  bool verified = false;  // the Low verify pass covered the whole disk
  // Of the verify pass: sectors that still failed to read when tried one by
  // one, and sectors that held another sector's stamp (SurfaceOptions).
  std::uint32_t unreadableSectors = 0;
  std::uint32_t misplacedSectors = 0;
  std::uint32_t serial = 0;  // volume serial number of the image last written
  bool imageWritten = false;
  bool bootFilesCopied = false;
  std::string bootFileFailed;  // the start-up file whose copy failed ("" for none)
};

// The front end of a run. FormatUi carries the engines' own boxes, the
// message pump of the Low passes, their progress and the running flag (a
// cleared flag is a Stop); DiskUi the Windows 98 lock box.
class FormatCallbacks : public FormatUi, public DiskUi {
 public:
  // The question before anything is written; true for Yes.
  virtual bool Confirm(const FormatRequest& request) = 0;
  // The system area is built: the run is under way.
  virtual void RunBegins() = 0;
  // The Low passes are about to start; Stop is offered from now on.
  virtual void PassesBegin() = 0;
  // The start-up files are being copied (true), or that is over (false).
  virtual void CopyingBootFiles(bool copying) = 0;
  virtual void Notice(FormatNotice kind, std::uint32_t systemError, const std::string& path) = 0;
  // Windows 98: asks for the disk to be pulled out and plugged in again until
  // exactly one drive is back; that drive, or "" when the user cancelled.
  virtual std::string AwaitReplug() = 0;
  virtual void ShowReport(const std::string& drive, const FormatResults& results) = 0;
  // Whether a drive arrival or removal has been noted since the confirmation.
  virtual bool DeviceChangeNoted() = 0;
  // The start-up files of a bootable disk: the names of the files in their
  // folder (not its folders or dot entries), in listing order, false when
  // there is no such folder; and one of them copied into the drive's root
  // directory under its name.
  virtual bool ListBootFiles(std::vector<std::string>& names) = 0;
  virtual bool CopyBootFile(const std::string& name, const std::string& drive) = 0;
  // The clock, the shell notice and the system format command.
  virtual RunPlatform& Platform() = 0;
};

// The whole run; see above. Refused for an unsupported layout and Declined
// for a No, both without any other call.
FormatOutcome FormatRun(const FormatRequest& request, FormatCallbacks& callbacks, DiskAccess& disk);

// --- Steps of the run, also offered on their own -----------------------------

// `s` with a-z upper-cased and every other byte as it is: drive roots and
// start-up file names are compared without regard to case, as Windows
// compares them.
std::string UpperAscii(std::string s);

// The label of the drive's volume as the formatter shows and keeps it: ""
// when the volume has none, or one that the formatter would not write.
// False when the volume gives no information (no disk, not formatted).
bool ReadVolumeLabel(DiskAccess& disk, const std::string& drive, std::string& label,
                     const LeadByteTest& isLeadByte = nullptr);

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

// Creates or truncates the answer file; false (after the TempFileNotCreated
// notice) when it cannot be created.
bool WriteAnswerFile(FormatCallbacks& callbacks, const std::string& path);
// Copies the start-up files onto the drive, io.sys first (whether or not it
// is listed; a real one is read-only and hidden, so it is copied once only).
// False when there is no folder of them or a copy fails, with the name of the
// file that failed in `failed` (left "" for a missing folder).
bool CopyBootFiles(FormatCallbacks& callbacks, const std::string& drive,
                   std::string* failed = nullptr);

// The Windows side of the start-up files: the `sys` folder beside the
// program (FindFirstFileA and CopyFileA).
bool ListBootFilesBesideProgram(RunPlatform& platform, std::vector<std::string>& names);
bool CopyBootFileBesideProgram(RunPlatform& platform, const std::string& name,
                               const std::string& drive);

}  // namespace vornak

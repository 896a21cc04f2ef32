// Pins the disk seam's Win32 constants to the values <windows.h> gives them.
//
// The portable code and the fake machine both use the seam's own copies
// (vornak::win), so a wrong value there would pass every native test: the
// fake would answer the wrong code just as the real system would not. Here
// each copy is compared with the system header's macro at compile time.
// VWIN32's control codes have no header in the SDK: they are pinned to the
// values the Windows 95 DDK documents.
#include <windows.h>
#include <winioctl.h>

#include <cstdint>

namespace {
// The system's values, read while the names are still macros.
struct SystemValue {
  const char* name;
  std::uint32_t value;
};
constexpr SystemValue kSystem[] = {
    {"GENERIC_READ", GENERIC_READ},
    {"GENERIC_WRITE", GENERIC_WRITE},
    {"FILE_SHARE_READ", FILE_SHARE_READ},
    {"FILE_SHARE_WRITE", FILE_SHARE_WRITE},
    {"OPEN_EXISTING", OPEN_EXISTING},
    {"FILE_ATTRIBUTE_NORMAL", FILE_ATTRIBUTE_NORMAL},
    {"FILE_FLAG_DELETE_ON_CLOSE", FILE_FLAG_DELETE_ON_CLOSE},
    {"FILE_BEGIN", FILE_BEGIN},
    {"DRIVE_REMOVABLE", DRIVE_REMOVABLE},
    {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
    {"IOCTL_DISK_GET_DRIVE_GEOMETRY", IOCTL_DISK_GET_DRIVE_GEOMETRY},
    {"IOCTL_DISK_GET_DRIVE_LAYOUT", IOCTL_DISK_GET_DRIVE_LAYOUT},
    {"FSCTL_LOCK_VOLUME", FSCTL_LOCK_VOLUME},
    {"FSCTL_DISMOUNT_VOLUME", FSCTL_DISMOUNT_VOLUME},
    {"MB_OK", MB_OK},
    {"MB_ICONHAND", MB_ICONHAND},
};
}  // namespace

// The seam header keeps the macros out of the way while it declares its
// copies; to name those copies here, the macros are set aside once more.
#include "disk_platform.h"

#include "disk_win32_names_begin.h"
namespace {
namespace win = vornak::win;
// The seam's copies, in the order of kSystem.
constexpr std::uint32_t kSeam[] = {
    win::GENERIC_READ,
    win::GENERIC_WRITE,
    win::FILE_SHARE_READ,
    win::FILE_SHARE_WRITE,
    win::OPEN_EXISTING,
    win::FILE_ATTRIBUTE_NORMAL,
    win::FILE_FLAG_DELETE_ON_CLOSE,
    win::FILE_BEGIN,
    win::DRIVE_REMOVABLE,
    win::ERROR_ACCESS_DENIED,
    win::IOCTL_DISK_GET_DRIVE_GEOMETRY,
    win::IOCTL_DISK_GET_DRIVE_LAYOUT,
    win::FSCTL_LOCK_VOLUME,
    win::FSCTL_DISMOUNT_VOLUME,
    win::MB_OK,
    win::MB_ICONHAND,
};
static_assert(sizeof kSeam / sizeof kSeam[0] == sizeof kSystem / sizeof kSystem[0],
              "one seam copy for each system value");

// The index of the first seam copy that differs from the system's value, or
// the count when all agree.
constexpr std::size_t FirstMismatch(std::size_t i = 0) {
  return i == sizeof kSeam / sizeof kSeam[0] ? i
         : kSeam[i] != kSystem[i].value      ? i
                                             : FirstMismatch(i + 1);
}
static_assert(
    FirstMismatch() == sizeof kSeam / sizeof kSeam[0],
    "a Win32 constant of the disk seam differs from <windows.h>: see kSystem[FirstMismatch()]");

// INT 21h IOCTL (44xxh) and drive information (73xxh) through \\.\VWIN32.
static_assert(win::VWIN32_DIOC_DOS_IOCTL == 1, "VWIN32_DIOC_DOS_IOCTL is 1");
static_assert(win::VWIN32_DIOC_DOS_DRIVEINFO == 6, "VWIN32_DIOC_DOS_DRIVEINFO is 6");
}  // namespace
#include "disk_win32_names_end.h"

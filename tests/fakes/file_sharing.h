// The file rules of Windows that Wine does not enforce, for the fakes of
// every subsystem: the sharing rule of CreateFile (whether a new open of a
// file or device may coexist with the handles already open on it) and the
// attributes that make CopyFile and DeleteFile refuse. Header only, free of
// windows.h.
#pragma once

#include <cstdint>

namespace fakes {

// Access rights and share modes with their Windows values.
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kDeleteAccess = 0x00010000u;  // DELETE
constexpr std::uint32_t kShareRead = 0x1u;
constexpr std::uint32_t kShareWrite = 0x2u;
constexpr std::uint32_t kShareDelete = 0x4u;

// Win32 error codes of a refused open.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorSharingViolation = 32;

// One open handle, as far as sharing is concerned.
struct OpenMode {
  std::uint32_t access = 0;
  std::uint32_t share = 0;
};

// True when a handle opened with `mode.access` asks for reading, writing or
// deleting. A handle opened with access 0 only queries attributes or sends
// device queries; it takes no part in sharing, neither refused by the share
// modes of the handles open nor refusing later opens.
inline bool UsesData(std::uint32_t access) {
  return (access & (kGenericRead | kGenericWrite | kDeleteAccess)) != 0;
}

// True when an open with `wanted` may be made while `held` is open. Windows
// refuses (ERROR_SHARING_VIOLATION) an open whose access the open handle's
// share mode does not allow, and an open whose share mode does not allow an
// access the open handle already has.
inline bool SharingAllows(const OpenMode& held, const OpenMode& wanted) {
  if (!UsesData(held.access) || !UsesData(wanted.access)) return true;
  const auto refuses = [](std::uint32_t access, std::uint32_t share) {
    return ((access & kGenericRead) && !(share & kShareRead)) ||
           ((access & kGenericWrite) && !(share & kShareWrite)) ||
           ((access & kDeleteAccess) && !(share & kShareDelete));
  };
  return !refuses(wanted.access, held.share) && !refuses(held.access, wanted.share);
}

// The error CopyFile gives for an existing destination with these
// attributes: ERROR_ACCESS_DENIED when it is hidden or read-only, whatever
// bFailIfExists says; 0 when the attributes do not stop the copy.
inline std::uint32_t CopyTargetRefusal(bool readOnly, bool hidden) {
  return readOnly || hidden ? kErrorAccessDenied : 0;
}

// The error DeleteFile gives for a file with these attributes:
// ERROR_ACCESS_DENIED for a read-only file; a hidden one is deleted.
inline std::uint32_t DeleteRefusal(bool readOnly) { return readOnly ? kErrorAccessDenied : 0; }

}  // namespace fakes

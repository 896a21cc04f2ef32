// Sets aside the <windows.h> macros that share their names with the disk
// seam's Win32 constants (vornak::win), so that those names can be declared
// or named; disk_win32_names_end.h brings the macros back. Included in pairs,
// without an include guard.
#pragma push_macro("GENERIC_READ")
#undef GENERIC_READ
#pragma push_macro("GENERIC_WRITE")
#undef GENERIC_WRITE
#pragma push_macro("FILE_SHARE_READ")
#undef FILE_SHARE_READ
#pragma push_macro("FILE_SHARE_WRITE")
#undef FILE_SHARE_WRITE
#pragma push_macro("OPEN_EXISTING")
#undef OPEN_EXISTING
#pragma push_macro("FILE_ATTRIBUTE_NORMAL")
#undef FILE_ATTRIBUTE_NORMAL
#pragma push_macro("FILE_FLAG_DELETE_ON_CLOSE")
#undef FILE_FLAG_DELETE_ON_CLOSE
#pragma push_macro("FILE_BEGIN")
#undef FILE_BEGIN
#pragma push_macro("DRIVE_REMOVABLE")
#undef DRIVE_REMOVABLE
#pragma push_macro("ERROR_ACCESS_DENIED")
#undef ERROR_ACCESS_DENIED
#pragma push_macro("IOCTL_DISK_GET_DRIVE_GEOMETRY")
#undef IOCTL_DISK_GET_DRIVE_GEOMETRY
#pragma push_macro("IOCTL_DISK_GET_DRIVE_LAYOUT")
#undef IOCTL_DISK_GET_DRIVE_LAYOUT
#pragma push_macro("FSCTL_LOCK_VOLUME")
#undef FSCTL_LOCK_VOLUME
#pragma push_macro("FSCTL_DISMOUNT_VOLUME")
#undef FSCTL_DISMOUNT_VOLUME
#pragma push_macro("VWIN32_DIOC_DOS_IOCTL")
#undef VWIN32_DIOC_DOS_IOCTL
#pragma push_macro("VWIN32_DIOC_DOS_DRIVEINFO")
#undef VWIN32_DIOC_DOS_DRIVEINFO
#pragma push_macro("MB_OK")
#undef MB_OK
#pragma push_macro("MB_ICONHAND")
#undef MB_ICONHAND

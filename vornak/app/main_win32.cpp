// vornak.exe: the removable-disk formatter.
#include <memory>

// The portable headers come first: their constants share names with
// <windows.h> macros.
#include "startup.h"
#include "startup_platform_win32.h"
#include "../disk/disk_platform_win32.h"
#include "../disk/test_binding_win32.h"
#include "formatter_window_win32.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  vornak::Win32StartupPlatform startup(instance);
  vornak::Win32DiskPlatform system;
  // Image-backed test drives replace the system's answers only when the
  // environment asks for them (see TestDiskBinding); otherwise the disk calls
  // go to Windows unchanged.
  std::unique_ptr<vornak::TestDiskBinding> testDrives =
      vornak::TestDiskBinding::FromEnvironment(system);
  vornak::DiskPlatform& disk =
      testDrives ? static_cast<vornak::DiskPlatform&>(*testDrives) : system;

  return vornak::RunFormatterApp(startup, disk, [&]() -> std::unique_ptr<vornak::MainDialog> {
    return std::make_unique<vornak::FormatterWindow>(instance, disk, startup);
  });
}

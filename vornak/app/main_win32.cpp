// vornak.exe: the removable-disk formatter.
#include <memory>

// The portable headers come first: their constants share names with
// <windows.h> macros.
#include "startup.h"
#include "startup_platform_win32.h"
#include "../disk/disk_platform_win32.h"
#if defined(VORNAK_TEST_DRIVES_BINDING)
#include "../disk/test_binding_win32.h"
#endif
#include "formatter_window_win32.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  vornak::Win32StartupPlatform startup(instance);
  vornak::Win32DiskPlatform system;
#if defined(VORNAK_TEST_DRIVES_BINDING)
  // Test tree only: image-backed test drives replace the system's answers
  // when the environment asks for them (see TestDiskBinding).
  std::unique_ptr<vornak::TestDiskBinding> testDrives =
      vornak::TestDiskBinding::FromEnvironment(system);
  vornak::DiskPlatform& disk =
      testDrives ? static_cast<vornak::DiskPlatform&>(*testDrives) : system;
#else
  vornak::DiskPlatform& disk = system;
#endif

  return vornak::RunFormatterApp(startup, disk, [&]() -> std::unique_ptr<vornak::MainDialog> {
    return std::make_unique<vornak::FormatterWindow>(instance, disk, startup);
  });
}

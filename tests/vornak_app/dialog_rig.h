// A formatter dialog on a fake machine, a scripted window and a scripted
// start-up, with helpers to make drive images and read them back.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>

#include "fake_dialog_platform.h"
#include "fake_machine.h"
#include "fake_startup_platform.h"
#include "formatter_dialog.h"
#include "startup.h"
#include "../../vornak/res/resource.h"
#include "../support/shell.h"

namespace vornak::test {

constexpr std::uint32_t kMiB = 1u << 20;

using test_support::Shell;

inline std::string TempPath(const std::string& name) {
  return test_support::TempPath("vornak_app", name);
}

struct Rig {
  explicit Rig(Family family = Family::WindowsNT) : machine(family) {
    ui.files[FakeDialogPlatform::Key("C:\\WINDOWS\\system32\\format.com")] = "MZ";
  }
  ~Rig() {
    dialog.reset();
    for (const std::string& f : imageFiles) std::remove(f.c_str());
  }

  // A removable drive over an in-memory image.
  FakeDrive& AddDrive(char letter, std::uint64_t size) {
    FakeDrive d;
    d.letter = letter;
    d.sizeBytes = size;
    d.ntDeviceNumber = letter - 'A';
    return machine.AddDrive(d);
  }
  // A removable drive over a sparse image file of `size` bytes.
  FakeDrive& AddFileDrive(char letter, std::uint64_t size, std::string* path) {
    *path = TempPath(std::string(1, letter) + ".img");
    FILE* f = std::fopen(path->c_str(), "wb");
    if (f) {
      if (size) {
        std::fseek(f, static_cast<long>(size - 1), SEEK_SET);
        std::fputc(0, f);
      }
      std::fclose(f);
    }
    imageFiles.push_back(*path);
    FakeDrive d;
    d.letter = letter;
    d.sizeBytes = size;
    d.ntDeviceNumber = letter - 'A';
    d.image = MakeFileImage(*path);
    return machine.AddDrive(d);
  }

  // Start-up's part: the family, the drive scan, then the dialog initialises.
  FormatterDialog& Open() {
    dialog = std::make_unique<FormatterDialog>(ui, machine, startup);
    dialog->SetFamily(GetOsFamily(machine));
    ScanRemovableDrives(dialog->Disk(), dialog->driveList);
    dialog->OnInitDialog();
    return *dialog;
  }

  std::vector<std::uint8_t> Sector(char letter, std::uint32_t n) {
    return machine.Peek(letter, static_cast<std::uint64_t>(n) * 512u, 512);
  }
  std::uint32_t FatEntry(char letter, std::uint32_t fatStartSector, std::uint32_t cluster) {
    auto b =
        machine.Peek(letter, static_cast<std::uint64_t>(fatStartSector) * 512u + cluster * 2u, 2);
    return b[0] | (b[1] << 8);
  }

  FakeMachine machine;
  FakeDialogPlatform ui;
  FakeStartupPlatform startup;
  std::unique_ptr<FormatterDialog> dialog;
  std::vector<std::string> imageFiles;
};

}  // namespace vornak::test

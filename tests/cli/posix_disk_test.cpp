// The disk seam on Linux, through the formatter's own disk access: what an
// image file looks like as drive E:, sizes, the edges of the volume, and the
// label that the dialog shows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <vector>

#include "cli_test_support.h"
#include "disk_access.h"
#include "fat_layout.h"
#include "posix_disk_platform.h"

namespace {

using cli_test::ScratchDir;
using vornak_cli::PosixDiskPlatform;

class NoBoxes : public vornak::DiskUi {
 public:
  int MessageBoxA(const char*, const char*, std::uint32_t) override {
    ++shown;
    return 1;
  }
  int shown = 0;
};

void MakeImage(const std::string& path, std::uint64_t size) {
  cli_test::WriteFile(path, "");
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

struct Drive {
  Drive(const std::string& path, bool removable, vornak_cli::TargetIdentity id = {})
      : platform(path, removable, id),
        disk(platform, ui, vornak::GetOsFamily(platform), lockText) {}
  PosixDiskPlatform platform;
  NoBoxes ui;
  std::string lockText = "Lock volume error!";
  vornak::DiskAccess disk;
};

TEST(PosixDisk, ImageIsARemovableDiskOfTheNtFamilySizedByItsLength) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  MakeImage(image, 62u << 20);
  Drive d(image, true);
  EXPECT_EQ(d.disk.Family(), "Windows2K");
  EXPECT_TRUE(d.disk.IsRemovableDisk("E:"));
  EXPECT_FALSE(d.disk.IsRemovableDisk("F:"));
  EXPECT_EQ(d.disk.GetDiskSize("E:"), 62u << 20);
  EXPECT_EQ(d.disk.GetDiskSize("F:"), 0u);
  EXPECT_EQ(d.platform.OpenHandles(), 0u);

  Drive fixed(image, false);
  EXPECT_FALSE(fixed.disk.IsRemovableDisk("E:"));
}

TEST(PosixDisk, TargetOfFourGiBOrMoreIsNotTakenForASmallDisk) {
  ScratchDir dir;
  const std::string image = dir / "big.img";
  // 4 GiB + 30 MiB: its low 32 bits alone would read as a 30 MiB disk.
  MakeImage(image, (4ull << 30) + (30ull << 20));
  Drive d(image, true);
  const std::uint32_t size = d.disk.GetDiskSize("E:");
  EXPECT_EQ(size, 0xFFFFFFFFu);
  vornak::FatLayout layout;
  vornak::ChooseLayout(size, layout);
  EXPECT_EQ(layout.kind, vornak::LayoutKind::Unsupported);
}

TEST(PosixDisk, SectorsMoveInsideTheVolumeAndNeverPastItsEnd) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  MakeImage(image, 64 * 512);
  Drive d(image, true);
  std::vector<unsigned char> out(2 * 512), in(2 * 512);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + 1);

  ASSERT_TRUE(d.disk.WriteSectors("E:", out.data(), 62, 2));
  ASSERT_TRUE(d.disk.ReadSectors("E:", in.data(), 62, 2));
  EXPECT_EQ(in, out);
  const std::string bytes = cli_test::ReadFile(image);
  EXPECT_EQ(std::memcmp(bytes.data() + 62 * 512, out.data(), out.size()), 0);

  // One sector over the end: nothing is written and the file does not grow.
  EXPECT_FALSE(d.disk.WriteSectors("E:", out.data(), 63, 2));
  EXPECT_EQ(cli_test::FileSize(image), 64u * 512);
  EXPECT_EQ(cli_test::ReadFile(image), bytes);
  EXPECT_FALSE(d.disk.ReadSectors("E:", in.data(), 63, 2));
  EXPECT_FALSE(d.disk.ReadSectors("E:", in.data(), 64, 1));
  EXPECT_EQ(d.ui.shown, 0);
  EXPECT_EQ(d.platform.OpenHandles(), 0u);
}

TEST(PosixDisk, ReadOnlyImageRefusesWritesWithoutChangingIt) {
  ScratchDir dir;
  const std::string image = dir / "ro.img";
  MakeImage(image, 64 * 512);
  ASSERT_EQ(chmod(image.c_str(), 0444), 0);
  const std::string before = cli_test::ReadFile(image);
  // 0: refused with access denied; 1: the write went through; 2: another error.
  const int result = cli_test::RunUnprivileged(dir.path(), [&] {
    Drive d(image, true);
    unsigned char sector[512] = {1};
    if (d.disk.WriteSectors("E:", sector, 0, 1)) return 1;
    return d.platform.GetLastError() == 5u ? 0 : 2;  // access denied
  });
  ASSERT_NE(result, -1) << "the check could not run without root's rights";
  EXPECT_EQ(result, 0) << (result == 1 ? "a read-only image took a write" : "not access denied");
  EXPECT_EQ(cli_test::ReadFile(image), before);
}

// Volume labels as mformat (an independent FAT writer) leaves them.
TEST(PosixDisk, VolumeInformationNamesTheLabelOfTheRootDirectory) {
  if (!cli_test::HaveProgram("mformat")) GTEST_SKIP() << "mtools missing";
  ScratchDir dir;
  const std::string image = dir / "fat.img";
  MakeImage(image, 16u << 20);
  ASSERT_EQ(cli_test::RunProgram({"mformat", "-i", image, "-v", "PLAYER", "::"}).exitCode, 0);
  Drive d(image, true);
  char name[150] = "x", fs[150] = "x";
  ASSERT_TRUE(d.platform.GetVolumeInformationA("E:\\", name, sizeof name, fs, sizeof fs));
  EXPECT_STREQ(name, "PLAYER");
  EXPECT_EQ(std::string(fs).substr(0, 3), "FAT");

  // Relabelled: the root directory's entry wins over the boot sector copy.
  std::string bytes = cli_test::ReadFile(image);
  std::memcpy(&bytes[0x2B], "BOOTCOPY   ", 11);
  cli_test::WriteFile(image, bytes);
  ASSERT_TRUE(d.platform.GetVolumeInformationA("E:\\", name, sizeof name, fs, sizeof fs));
  EXPECT_STREQ(name, "PLAYER");
  EXPECT_EQ(d.platform.OpenHandles(), 0u);
}

TEST(PosixDisk, VolumeInformationFailsOnAnUnformattedDisk) {
  ScratchDir dir;
  const std::string image = dir / "blank.img";
  MakeImage(image, 1u << 20);
  Drive d(image, true);
  char name[150], fs[150];
  EXPECT_FALSE(d.platform.GetVolumeInformationA("E:\\", name, sizeof name, fs, sizeof fs));
}

TEST(FatVolumeInfo, NoNameIsNoLabelAndFat32IsNotRead) {
  std::vector<unsigned char> volume(64 * 512, 0);
  unsigned char* b = volume.data();
  b[0x0B] = 0x00;
  b[0x0C] = 0x02;  // 512 bytes per sector
  b[0x0D] = 4;     // sectors per cluster
  b[0x0E] = 1;     // reserved
  b[0x10] = 2;     // FATs
  b[0x11] = 16;    // root entries
  b[0x16] = 8;     // sectors per FAT
  b[0x26] = 0x29;
  std::memcpy(b + 0x2B, "NO NAME    FAT16   ", 19);
  b[510] = 0x55;
  b[511] = 0xAA;
  const vornak_cli::VolumeReader read = [&](std::uint64_t offset, void* buffer, std::size_t n) {
    if (offset + n > volume.size()) return false;
    std::memcpy(buffer, volume.data() + offset, n);
    return true;
  };
  std::string label = "x", fs;
  ASSERT_TRUE(vornak_cli::ReadFatVolumeInfo(read, label, fs));
  EXPECT_EQ(label, "");
  EXPECT_EQ(fs, "FAT16");

  // A deleted label entry and a long-name piece are passed over.
  unsigned char* root = b + (1 + 2 * 8) * 512;
  std::memcpy(root, "\xE5OLD       ", 11);
  root[11] = 0x08;
  std::memcpy(root + 32, "Axxxxxxxxxx", 11);
  root[32 + 11] = 0x0F;
  std::memcpy(root + 64, "MUSIC      ", 11);
  root[64 + 11] = 0x28;
  ASSERT_TRUE(vornak_cli::ReadFatVolumeInfo(read, label, fs));
  EXPECT_EQ(label, "MUSIC");

  b[0x16] = 0;  // FAT32 keeps its FAT size elsewhere
  EXPECT_FALSE(vornak_cli::ReadFatVolumeInfo(read, label, fs));
}

vornak_cli::TargetIdentity IdentityOfPath(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return vornak_cli::IdentityOf(st);
}

// The target is the file the checks saw: a name re-pointed in the middle of a
// run is not followed to another file.
TEST(PosixDisk, ATargetNameRepointedDuringTheRunIsNotReopened) {
  ScratchDir dir;
  MakeImage(dir / "player.img", 32u << 20);
  cli_test::WriteFile(dir / "victim", std::string(4096, 'v'));
  ASSERT_EQ(symlink("player.img", (dir / "target").c_str()), 0);
  Drive d(dir / "target", true, IdentityOfPath(dir / "target"));
  std::vector<std::uint8_t> sector(512, 0xAB);
  ASSERT_TRUE(d.disk.WriteSectors("E:", sector.data(), 0, 1));

  ASSERT_EQ(unlink((dir / "target").c_str()), 0);
  ASSERT_EQ(symlink("victim", (dir / "target").c_str()), 0);
  EXPECT_FALSE(d.disk.WriteSectors("E:", sector.data(), 0, 1));
  EXPECT_FALSE(d.disk.ReadSectors("E:", sector.data(), 0, 1));
  EXPECT_EQ(cli_test::ReadFile(dir / "victim"), std::string(4096, 'v'));
  EXPECT_NE(d.platform.FailureText().find("re-pointed"), std::string::npos)
      << d.platform.FailureText();
  EXPECT_EQ(d.platform.OpenHandles(), 0u);
}

// Writes the system could not keep (the flush at the close fails) are lost
// writes, although every write call succeeded.
TEST(PosixDisk, AFailedFlushAtTheCloseIsALostWrite) {
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  MakeImage(image, 32u << 20);
  Drive d(image, true, IdentityOfPath(image));
  int syncs = 0;
  d.platform.syncFile = [&](int) {
    ++syncs;
    errno = EIO;
    return -1;
  };
  std::vector<std::uint8_t> sector(512, 0);
  // Reading alone flushes nothing and loses nothing.
  ASSERT_TRUE(d.disk.ReadSectors("E:", sector.data(), 0, 1));
  EXPECT_EQ(syncs, 0);
  EXPECT_FALSE(d.platform.WritesLost());
  EXPECT_TRUE(d.disk.WriteSectors("E:", sector.data(), 0, 1));
  EXPECT_EQ(syncs, 1);
  EXPECT_TRUE(d.platform.WritesLost());
  EXPECT_EQ(d.platform.FailureText(), image + ": " + std::strerror(EIO));
}

// A loop device stands in for a removable disk: writes go straight to the
// device, and a flush comes only when a handle that wrote closes.
TEST(PosixDisk, BlockDeviceWritesGoDirectAndAreFlushedOnceAtTheClose) {
  ScratchDir dir;
  const std::string image = dir / "loop.img";
  MakeImage(image, 32u << 20);
  const cli_test::RunResult attach = cli_test::RunProgram({"losetup", "-f", "--show", image});
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop device: " << attach.err;
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  struct Detach {
    std::string device;
    ~Detach() { cli_test::RunProgram({"losetup", "-d", device}); }
  } detach{device};

  Drive d(device, true, IdentityOfPath(device));
  int syncs = 0;
  d.platform.syncFile = [&](int fd) {
    ++syncs;
    return fdatasync(fd);
  };
  vornak::DiskHandle h = d.disk.OpenNtVolume("E:");
  ASSERT_NE(h, vornak::kInvalidHandle);
  std::vector<std::uint8_t> chunk(16384 + 7);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
  // An unaligned buffer, as the callers' vectors are.
  for (std::uint32_t c = 0; c < 8; ++c)
    ASSERT_TRUE(d.disk.NtWrite(h, chunk.data() + 7, c * 32, 32));
  EXPECT_EQ(syncs, 0) << "no flush after each chunk";
  std::vector<std::uint8_t> back(16384);
  ASSERT_TRUE(d.disk.NtRead(h, back.data(), 7 * 32, 32));
  EXPECT_TRUE(std::equal(back.begin(), back.end(), chunk.begin() + 7));
  // An aligned buffer goes to the device as it is, without the copy.
  std::vector<std::uint8_t> storage(3 * 4096);
  std::uint8_t* aligned =
      storage.data() + (4096 - reinterpret_cast<std::uintptr_t>(storage.data()) % 4096) % 4096;
  std::memcpy(aligned, chunk.data() + 3, 8192);
  ASSERT_TRUE(d.disk.NtWrite(h, aligned, 1000, 16));
  std::memset(aligned, 0, 8192);
  ASSERT_TRUE(d.disk.NtRead(h, aligned, 1000, 16));
  EXPECT_EQ(std::memcmp(aligned, chunk.data() + 3, 8192), 0);
  d.platform.CloseHandle(h);
  EXPECT_EQ(syncs, 1);
  EXPECT_FALSE(d.platform.WritesLost());
  // A write past the end fails at once.
  h = d.disk.OpenNtVolume("E:");
  EXPECT_FALSE(d.disk.NtWrite(h, chunk.data(), (32u << 20) / 512 - 16, 32));
  d.platform.CloseHandle(h);
}

}  // namespace

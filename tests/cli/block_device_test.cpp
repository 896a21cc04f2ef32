// What the formatter may touch on Linux, decided from a made-up sysfs and
// procfs: removable flags, disks and partitions, mounts, holders, loop
// devices, and the targets' checks before anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "block_device.h"
#include "cli_test_support.h"
#include "vornak_cli.h"

namespace {

using cli_test::ScratchDir;
using cli_test::WriteFile;
using namespace vornak_cli;

void MakeDirs(const std::string& path) {
  const std::string command = "mkdir -p '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

void Link(const std::string& target, const std::string& link) {
  MakeDirs(link.substr(0, link.rfind('/')));
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
}

// sda: fixed 256 GiB disk (8:0). sdb: removable 62 MiB disk (8:16) with
// partitions sdb1 (8:17) and sdb2 (8:18).
class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    paths.root = dir.path();
    const std::string devices = dir / "sys/devices/virtual/block";
    Disk("sda", "8:0", "0", 536870912ull);
    Disk("sdb", "8:16", "1", 126976ull);
    Partition("sdb", "sdb1", "8:17", 63488ull);
    Partition("sdb", "sdb2", "8:18", 63488ull);
    WriteFile(devices + "/sdb/device/vendor", "Pellora \n");
    WriteFile(devices + "/sdb/device/model", "MP3 Disk\n");
    MakeDirs(dir / "proc/self");
    Mounts("");
  }

  void Disk(const std::string& name, const std::string& dev, const std::string& removable,
            unsigned long long sectors) {
    const std::string d = dir / ("sys/devices/virtual/block/" + name);
    MakeDirs(d + "/holders");
    MakeDirs(d + "/device");
    WriteFile(d + "/dev", dev + "\n");
    WriteFile(d + "/removable", removable + "\n");
    WriteFile(d + "/size", std::to_string(sectors) + "\n");
    Link("../../devices/virtual/block/" + name, dir / ("sys/dev/block/" + dev));
    Link("../devices/virtual/block/" + name, dir / ("sys/block/" + name));
  }

  void Partition(const std::string& disk, const std::string& name, const std::string& dev,
                 unsigned long long sectors) {
    const std::string d = dir / ("sys/devices/virtual/block/" + disk + "/" + name);
    MakeDirs(d + "/holders");
    WriteFile(d + "/partition", "1\n");
    WriteFile(d + "/dev", dev + "\n");
    WriteFile(d + "/size", std::to_string(sectors) + "\n");
    Link("../../devices/virtual/block/" + disk + "/" + name, dir / ("sys/dev/block/" + dev));
  }

  void Mounts(const std::string& lines) { WriteFile(dir / "proc/self/mountinfo", lines); }

  static std::string MountLine(const std::string& dev, const std::string& source,
                               const std::string& point) {
    return "36 25 " + dev + " / " + point + " rw,relatime shared:1 - vfat " + source + " rw\n";
  }

  ScratchDir dir;
  SystemPaths paths;
};

TEST_F(FakeSystem, PartitionTakesRemovableFlagAndModelFromItsDisk) {
  const BlockDeviceInfo p = DescribeBlockDevice(paths, "8:17");
  ASSERT_TRUE(p.found);
  EXPECT_EQ(p.name, "sdb1");
  EXPECT_EQ(p.disk, "sdb");
  EXPECT_TRUE(p.partition);
  EXPECT_TRUE(p.removable);
  EXPECT_EQ(p.size, 63488ull * 512);
  EXPECT_EQ(p.model, "Pellora MP3 Disk");

  const BlockDeviceInfo fixed = DescribeBlockDevice(paths, "8:0");
  ASSERT_TRUE(fixed.found);
  EXPECT_FALSE(fixed.removable);
  EXPECT_FALSE(fixed.partition);
  EXPECT_FALSE(DescribeBlockDevice(paths, "8:99").found);
}

TEST_F(FakeSystem, MountAnywhereOnTheDiskBlocksTheDiskButNotASisterPartition) {
  Mounts(MountLine("0:26", "proc", "/proc") + MountLine("8:17", "/dev/sdb1", "/media/my\\040disk"));
  EXPECT_EQ(DeviceInUse(paths, DescribeBlockDevice(paths, "8:16")),
            "/dev/sdb1 is mounted on /media/my disk");
  EXPECT_NE(DeviceInUse(paths, DescribeBlockDevice(paths, "8:17")), "");
  EXPECT_EQ(DeviceInUse(paths, DescribeBlockDevice(paths, "8:18")), "");
  EXPECT_EQ(DeviceInUse(paths, DescribeBlockDevice(paths, "8:0")), "");

  // A whole-disk file system lies under every partition entry.
  Mounts(MountLine("8:16", "/dev/sdb", "/mnt"));
  EXPECT_NE(DeviceInUse(paths, DescribeBlockDevice(paths, "8:18")), "");
}

TEST_F(FakeSystem, DiskHeldByAnotherBlockDeviceIsInUse) {
  MakeDirs(dir / "sys/devices/virtual/block/sdb/sdb2/holders/dm-0");
  EXPECT_EQ(DeviceInUse(paths, DescribeBlockDevice(paths, "8:16")),
            "/dev/sdb is in use by /dev/dm-0");
  EXPECT_EQ(DeviceInUse(paths, DescribeBlockDevice(paths, "8:0")), "");
}

TEST_F(FakeSystem, ListShowsRemovableDisksOnlyUnlessAll) {
  std::vector<BlockDeviceInfo> disks = ListDisks(paths, false);
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(disks[0].name, "sdb");
  EXPECT_EQ(disks[0].size, 126976ull * 512);
  disks = ListDisks(paths, true);
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "sda");
}

TEST_F(FakeSystem, ImageAttachedToALoopDeviceIsInUse) {
  const std::string image = dir / "player.img";
  WriteFile(image, std::string(4096, '\0'));
  MakeDirs(dir / "sys/devices/virtual/block/loop3/loop");
  Link("../devices/virtual/block/loop3", dir / "sys/block/loop3");
  WriteFile(dir / "sys/devices/virtual/block/loop3/loop/backing_file", image + "\n");
  const auto inUse = [&](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return ImageInUse(paths, st.st_dev, st.st_ino);
  };
  EXPECT_EQ(inUse(image), image + " is attached to /dev/loop3");
  WriteFile(dir / "other.img", "");
  EXPECT_EQ(inUse(dir / "other.img"), "");
  // Another name of the same file is the same file.
  ASSERT_EQ(link(image.c_str(), (dir / "link.img").c_str()), 0);
  EXPECT_EQ(inUse(dir / "link.img"), image + " is attached to /dev/loop3");

  FormatOptions options;
  for (const std::string& target : {image, dir / "link.img"}) {
    options.target = target;
    const TargetCheck check = CheckTarget(paths, options);
    EXPECT_FALSE(check.ok) << target;
    EXPECT_EQ(check.exitCode, kExitFailed);
  }
}

TEST_F(FakeSystem, SizeCreatesOrExtendsAnImageButNeverShrinksIt) {
  FormatOptions options;
  options.target = dir / "new.img";
  EXPECT_FALSE(CheckTarget(paths, options).ok);  // no such file, no --size
  EXPECT_FALSE(cli_test::Exists(options.target));

  options.sizeGiven = true;
  options.size = 32u << 20;
  TargetCheck check = CheckTarget(paths, options);
  EXPECT_TRUE(check.ok);
  EXPECT_TRUE(check.removable);
  EXPECT_EQ(cli_test::FileSize(options.target), 32u << 20);

  options.size = 64u << 20;
  EXPECT_TRUE(CheckTarget(paths, options).ok);
  EXPECT_EQ(cli_test::FileSize(options.target), 64u << 20);

  options.size = 16u << 20;
  check = CheckTarget(paths, options);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.exitCode, kExitFailed);
  EXPECT_EQ(cli_test::FileSize(options.target), 64u << 20);
}

// Device nodes of the made-up disks. Only their numbers are looked at: the
// checks stat the node and never open it.
class FakeDevices : public FakeSystem {
 protected:
  void SetUp() override {
    FakeSystem::SetUp();
    if (mknod((dir / "sda").c_str(), S_IFBLK | 0600, makedev(8, 0)) != 0 ||
        mknod((dir / "sdb").c_str(), S_IFBLK | 0600, makedev(8, 16)) != 0 ||
        mknod((dir / "sdb1").c_str(), S_IFBLK | 0600, makedev(8, 17)) != 0)
      GTEST_SKIP() << "cannot make device nodes here";
  }
  TargetCheck Check(const std::string& node, bool yes) {
    FormatOptions options;
    options.target = dir / node;
    options.yes = yes;
    return CheckTarget(paths, options);
  }
};

TEST_F(FakeDevices, FixedDiskNeedsYesAndAMountedOneIsAlwaysRefused) {
  TargetCheck check = Check("sda", false);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.exitCode, kExitFailed);
  EXPECT_NE(check.message.find("does not flag /dev/sda removable"), std::string::npos);
  EXPECT_TRUE(Check("sda", true).ok);
  EXPECT_FALSE(Check("sda", true).removable);

  check = Check("sdb1", false);
  EXPECT_TRUE(check.ok);
  EXPECT_TRUE(check.blockDevice);
  EXPECT_TRUE(check.removable);
  EXPECT_EQ(check.note, "");
  // The whole disk is allowed, with a word about the partitions it replaces.
  check = Check("sdb", false);
  EXPECT_TRUE(check.ok);
  EXPECT_NE(check.note.find("/dev/sdb has partitions"), std::string::npos) << check.note;

  Mounts(MountLine("8:17", "/dev/sdb1", "/media/usb"));
  check = Check("sdb1", true);
  EXPECT_FALSE(check.ok);
  EXPECT_NE(check.message.find("is mounted on /media/usb"), std::string::npos);

  FormatOptions sized;
  sized.target = dir / "sda";
  sized.yes = true;
  sized.sizeGiven = true;
  sized.size = 1 << 20;
  EXPECT_EQ(CheckTarget(paths, sized).exitCode, kExitFailed);
}

TEST(CliArguments, ByteCountsTakeBinarySuffixes) {
  std::uint64_t bytes = 0;
  EXPECT_TRUE(ParseByteCount("67108864", bytes));
  EXPECT_EQ(bytes, 67108864u);
  EXPECT_TRUE(ParseByteCount("64M", bytes));
  EXPECT_EQ(bytes, 64u << 20);
  EXPECT_TRUE(ParseByteCount("1G", bytes));
  EXPECT_EQ(bytes, 1u << 30);
  EXPECT_FALSE(ParseByteCount("64MB", bytes));
  EXPECT_FALSE(ParseByteCount("-1", bytes));
  EXPECT_FALSE(ParseByteCount("", bytes));
  EXPECT_FALSE(ParseByteCount("99999999999999999999", bytes));
  EXPECT_FALSE(ParseByteCount("17179869184G", bytes));  // overflows 64 bits
}

}  // namespace

// What Linux says about a formatting target: a block device's removable flag,
// its size and whether it is in use (mounted, used as swap, or held by
// another block device such as a device-mapper or RAID volume), and the list
// of the removable disks for `vornak-cli list`.
//
// Everything is read from sysfs and procfs below a root directory ("" on a
// running system), so that the decisions can be exercised on a made-up tree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vornak_cli {

struct SystemPaths {
  std::string root;  // prefix of /sys and /proc
  std::string Sys() const { return root + "/sys"; }
  std::string MountInfo() const { return root + "/proc/self/mountinfo"; }
  std::string Swaps() const { return root + "/proc/swaps"; }
};

// A block device by its device number, as sysfs describes it.
struct BlockDeviceInfo {
  bool found = false;
  std::string name;  // "sdb" or "sdb1"
  std::string disk;  // the whole disk: "sdb" for both
  bool partition = false;
  bool removable = false;  // the whole disk's removable flag
  std::uint64_t size = 0;  // bytes (sysfs counts 512-byte units)
  std::string model;       // vendor and model of the whole disk, if known
  // "major:minor" of the device itself, of the whole disk and of every
  // partition of the whole disk.
  std::string devNumber;
  std::string diskDevNumber;
  std::vector<std::string> partitionDevNumbers;
  // Names of block devices built on the device or on its disk (holders).
  std::vector<std::string> holders;
};

std::string DevNumber(dev_t device);

// The device `major:minor` as sysfs describes it (found = false when sysfs
// has no such block device).
BlockDeviceInfo DescribeBlockDevice(const SystemPaths& paths, const std::string& devNumber);

// Why a block device may not be formatted now: "" when it is free, else a
// sentence such as "/dev/sdb1 is mounted on /media/usb".
std::string DeviceInUse(const SystemPaths& paths, const BlockDeviceInfo& info);

// For a regular image file, given by the device and inode of its file
// system: a sentence naming the loop device that has it attached or saying
// that it is a swap file, "" when it is neither.
std::string ImageInUse(const SystemPaths& paths, dev_t device, ino_t inode);

// For a loop device: a sentence naming another loop device over the same
// backing file, overlapping it, that is mounted, swap space or held, or ""
// when there is none (or the device is no loop device). Writing one writes
// the other's file system.
std::string LoopFileInUse(const SystemPaths& paths, const BlockDeviceInfo& info);

// The whole disks that sysfs lists, removable ones only unless `all`.
std::vector<BlockDeviceInfo> ListDisks(const SystemPaths& paths, bool all);

// "62.00 MiB", "7.45 GiB"
std::string HumanSize(std::uint64_t bytes);

}  // namespace vornak_cli

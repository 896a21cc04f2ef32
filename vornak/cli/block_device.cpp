#include "block_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace vornak_cli {

namespace {

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (!realpath(path.c_str(), buffer)) return std::string();
  return buffer;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  DIR* d = opendir(directory.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Fills the whole-disk fields from the disk's sysfs directory.
void DescribeDisk(const std::string& diskDir, BlockDeviceInfo& info) {
  info.disk = BaseName(diskDir);
  info.diskDevNumber = ReadLine(diskDir + "/dev");
  info.removable = ReadLine(diskDir + "/removable") == "1";
  std::string vendor = ReadLine(diskDir + "/device/vendor");
  std::string model = ReadLine(diskDir + "/device/model");
  info.model = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
  for (const std::string& name : Entries(diskDir)) {
    const std::string child = diskDir + "/" + name;
    if (Exists(child + "/partition")) {
      const std::string dev = ReadLine(child + "/dev");
      if (!dev.empty()) info.partitionDevNumbers.push_back(dev);
      for (const std::string& h : Entries(child + "/holders")) info.holders.push_back(h);
    }
  }
  for (const std::string& h : Entries(diskDir + "/holders")) info.holders.push_back(h);
}

// Unescapes the octal escapes (\040 for a blank) of mountinfo and swaps.
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string digits = s.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

struct Mount {
  std::string devNumber;
  std::string source;
  std::string point;
};

std::vector<Mount> Mounts(const SystemPaths& paths) {
  std::vector<Mount> mounts;
  std::ifstream in(paths.MountInfo());
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    if (!(fields >> id >> parent >> dev >> root >> point)) continue;
    std::string word, source;
    while (fields >> word && word != "-") {
    }
    std::string type;
    fields >> type >> source;
    mounts.push_back({dev, Unescape(source), Unescape(point)});
  }
  return mounts;
}

// The files and devices of /proc/swaps.
std::vector<std::string> SwapNames(const SystemPaths& paths) {
  std::vector<std::string> names;
  std::ifstream swaps(paths.Swaps());
  std::string line;
  std::getline(swaps, line);  // heading
  while (std::getline(swaps, line)) {
    std::istringstream fields(line);
    std::string file;
    if (fields >> file) names.push_back(Unescape(file));
  }
  return names;
}

// The device number of a device node, "" when it is not one.
std::string DevNumberOfNode(const std::string& path) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
    return std::string();
  return DevNumber(st.st_rdev);
}

// What a loop device reads: its backing file and the byte range of it.
struct LoopExtent {
  bool attached = false;
  std::string backing;
  // The file by device and inode as the loop status holds them, and as the
  // backing name reaches it now (a file system such as btrfs reports other
  // device numbers to stat than the kernel keeps).
  struct Id {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Id& o) const {
      return known && o.known && device == o.device && inode == o.inode;
    }
  };
  Id status;
  Id named;
  bool Same(const LoopExtent& o) const { return status == o.status || named == o.named; }
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

LoopExtent LoopOf(const SystemPaths& paths, const std::string& name) {
  LoopExtent loop;
  const std::string dir = paths.Sys() + "/block/" + name;
  loop.backing = ReadLine(dir + "/loop/backing_file");
  if (loop.backing.empty()) return loop;
  loop.attached = true;
  loop.begin = std::strtoull(ReadLine(dir + "/loop/offset").c_str(), nullptr, 10);
  loop.end = loop.begin + std::strtoull(ReadLine(dir + "/size").c_str(), nullptr, 10) * 512u;
  const int fd = ::open((paths.root + "/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  loop_info64 status{};
  if (fd >= 0 && ioctl(fd, LOOP_GET_STATUS64, &status) == 0)
    loop.status = {true, static_cast<dev_t>(status.lo_device), static_cast<ino_t>(status.lo_inode)};
  if (fd >= 0) ::close(fd);
  struct stat st {};
  if (stat(loop.backing.c_str(), &st) == 0) loop.named = {true, st.st_dev, st.st_ino};
  return loop;
}

std::vector<std::string> LoopNames(const SystemPaths& paths) {
  std::vector<std::string> names;
  for (const std::string& name : Entries(paths.Sys() + "/block"))
    if (name.compare(0, 4, "loop") == 0) names.push_back(name);
  return names;
}

}  // namespace

std::string DevNumber(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

BlockDeviceInfo DescribeBlockDevice(const SystemPaths& paths, const std::string& devNumber) {
  BlockDeviceInfo info;
  const std::string dir = RealPath(paths.Sys() + "/dev/block/" + devNumber);
  if (dir.empty()) return info;
  info.found = true;
  info.devNumber = devNumber;
  info.name = BaseName(dir);
  info.partition = Exists(dir + "/partition");
  const std::string sectors = ReadLine(dir + "/size");
  info.size = std::strtoull(sectors.c_str(), nullptr, 10) * 512u;
  DescribeDisk(info.partition ? DirName(dir) : dir, info);
  return info;
}

std::string DeviceInUse(const SystemPaths& paths, const BlockDeviceInfo& info) {
  // Any file system on the disk or on one of its partitions is in the way:
  // formatting a partition under a mounted whole-disk volume, or a disk with
  // a mounted partition, destroys it just the same.
  std::set<std::string> ours;
  if (!info.devNumber.empty()) ours.insert(info.devNumber);
  if (!info.diskDevNumber.empty()) ours.insert(info.diskDevNumber);
  // Formatting a partition does not touch its sister partitions.
  if (!info.partition)
    for (const std::string& d : info.partitionDevNumbers) ours.insert(d);

  for (const Mount& m : Mounts(paths)) {
    const bool byNumber = ours.count(m.devNumber) != 0;
    const std::string sourceDev = DevNumberOfNode(m.source);
    if (byNumber || (!sourceDev.empty() && ours.count(sourceDev)))
      return m.source + " is mounted on " + m.point;
  }
  for (const std::string& file : SwapNames(paths)) {
    const std::string dev = DevNumberOfNode(file);
    if (!dev.empty() && ours.count(dev)) return file + " is in use as swap space";
  }
  if (!info.holders.empty())
    return "/dev/" + info.disk + " is in use by /dev/" + info.holders.front();
  return std::string();
}

std::string ImageInUse(const SystemPaths& paths, dev_t device, ino_t inode) {
  // The file itself, by device and inode, whatever name reaches it (a hard
  // link, a bind mount, a renamed file).
  for (const std::string& name : LoopNames(paths)) {
    const LoopExtent loop = LoopOf(paths, name);
    const LoopExtent::Id file{true, device, inode};
    if (loop.attached && (loop.status == file || loop.named == file))
      return loop.backing + " is attached to /dev/" + name;
  }
  for (const std::string& file : SwapNames(paths)) {
    struct stat st {};
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device &&
        st.st_ino == inode)
      return file + " is in use as swap space";
  }
  return std::string();
}

std::string LoopFileInUse(const SystemPaths& paths, const BlockDeviceInfo& info) {
  const LoopExtent ours = LoopOf(paths, info.disk);
  if (!ours.attached) return std::string();
  for (const std::string& name : LoopNames(paths)) {
    if (name == info.disk) continue;
    const LoopExtent other = LoopOf(paths, name);
    if (!other.attached || !other.Same(ours) || other.end <= ours.begin || ours.end <= other.begin)
      continue;
    const BlockDeviceInfo sister =
        DescribeBlockDevice(paths, ReadLine(paths.Sys() + "/block/" + name + "/dev"));
    const std::string inUse = sister.found ? DeviceInUse(paths, sister) : std::string();
    if (!inUse.empty())
      return "its backing file " + ours.backing + " is also attached to /dev/" + name + ", and " +
             inUse;
  }
  return std::string();
}

std::vector<BlockDeviceInfo> ListDisks(const SystemPaths& paths, bool all) {
  std::vector<BlockDeviceInfo> disks;
  for (const std::string& name : Entries(paths.Sys() + "/block")) {
    const std::string dev = ReadLine(paths.Sys() + "/block/" + name + "/dev");
    if (dev.empty()) continue;
    BlockDeviceInfo info = DescribeBlockDevice(paths, dev);
    if (!info.found) continue;
    if (all || info.removable) disks.push_back(info);
  }
  return disks;
}

std::string HumanSize(std::uint64_t bytes) {
  char text[64];
  if (bytes >= (1ull << 30))
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1ull << 30));
  else
    std::snprintf(text, sizeof text, "%.2f MiB", static_cast<double>(bytes) / (1ull << 20));
  return text;
}

}  // namespace vornak_cli

// fakedisk: a FUSE file system holding one file, "disk", for tests of disk
// writers. The file claims a size and stores what is written in memory; it
// can fail every flush to the disk (fsync), as a disk that loses its writes
// does, or every write after a number of bytes, as a disk pulled out does,
// and it can hold less than it claims, as a counterfeit stick does:
// past its real capacity a write either wraps onto an earlier address or
// vanishes (and reads there give 0xFF).
//
// Usage: fakedisk MOUNTPOINT --size BYTES [--capacity BYTES [--wrap|--drop]]
//                            [--fail-sync] [--fail-writes-after BYTES]
//                            [--uncached] [--delay-us N]
// --uncached opens the file for direct I/O: the kernel keeps no page cache
// of it, so every read asks fakedisk (a loop device over it then sees the
// wrap, where the cache would answer with what was just written).
// --delay-us makes every read and write take N microseconds longer, as a
// slow stick does.
// Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT).
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Disk {
  std::uint64_t size = 0;      // what the file claims, bytes
  std::uint64_t capacity = 0;  // what it stores, bytes
  bool wrap = false;           // past the capacity: wrap (true) or drop (false)
  bool failSync = false;
  bool uncached = false;
  unsigned delayUs = 0;
  // After this many bytes written, every write fails (EIO), as on a disk
  // pulled out in the middle of a run.
  std::uint64_t writesBeforeFailure = UINT64_MAX;
  std::uint64_t written = 0;
  std::vector<unsigned char> bytes;
};
Disk g_disk;
constexpr const char* kName = "/disk";

int GetAttr(const char* path, struct stat* st, struct fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = static_cast<off_t>(g_disk.size);
  st->st_blocks = static_cast<blkcnt_t>(g_disk.size / 512);
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
            enum fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kName + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, struct fuse_file_info* fi) {
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  if (g_disk.uncached) fi->direct_io = 1;
  return 0;
}

// Where the byte at `offset` is stored, or -1 when it is not stored at all.
std::int64_t Stored(std::uint64_t offset) {
  if (offset < g_disk.capacity) return static_cast<std::int64_t>(offset);
  return g_disk.wrap ? static_cast<std::int64_t>(offset % g_disk.capacity) : -1;
}

// Reads and writes a byte at a time through Stored: simple, and fast enough
// for the disks of tests (hundreds of MB/s).
int Read(const char*, char* buffer, size_t count, off_t offset, struct fuse_file_info*) {
  const std::uint64_t at = static_cast<std::uint64_t>(offset);
  if (g_disk.delayUs) usleep(g_disk.delayUs);
  if (at >= g_disk.size) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(count, g_disk.size - at);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::int64_t where = Stored(at + i);
    buffer[i] = static_cast<char>(where < 0 ? 0xFF : g_disk.bytes[where]);
  }
  return static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t count, off_t offset, struct fuse_file_info*) {
  const std::uint64_t at = static_cast<std::uint64_t>(offset);
  if (g_disk.delayUs) usleep(g_disk.delayUs);
  if (at + count > g_disk.size) return -ENOSPC;
  if (g_disk.written >= g_disk.writesBeforeFailure) return -EIO;
  g_disk.written += count;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::int64_t where = Stored(at + i);
    if (where >= 0) g_disk.bytes[where] = static_cast<unsigned char>(buffer[i]);
  }
  return static_cast<int>(count);
}

int Sync(const char*, int, struct fuse_file_info*) { return g_disk.failSync ? -EIO : 0; }

// The disk's size cannot change; a truncate to its own size is allowed.
int Truncate(const char*, off_t size, struct fuse_file_info*) {
  return static_cast<std::uint64_t>(size) == g_disk.size ? 0 : -EPERM;
}

bool ParseSize(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  if (end == text) return false;
  const std::string unit(end);
  if (unit == "K")
    value <<= 10;
  else if (unit == "M")
    value <<= 20;
  else if (unit == "G")
    value <<= 30;
  else if (!unit.empty())
    return false;
  return value > 0;
}

// Fills g_disk from the options; the mount point stays in argv for FUSE.
bool ParseOptions(int argc, char** argv, std::vector<char*>& fuseArgs) {
  fuseArgs = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--size" || a == "--capacity") && i + 1 < argc) {
      std::uint64_t v = 0;
      if (!ParseSize(argv[++i], v)) return false;
      (a == "--size" ? g_disk.size : g_disk.capacity) = v;
    } else if (a == "--wrap" || a == "--drop") {
      g_disk.wrap = a == "--wrap";
    } else if (a == "--fail-writes-after" && i + 1 < argc) {
      if (!ParseSize(argv[++i], g_disk.writesBeforeFailure)) return false;
    } else if (a == "--fail-sync") {
      g_disk.failSync = true;
    } else if (a == "--uncached") {
      g_disk.uncached = true;
    } else if (a == "--delay-us" && i + 1 < argc) {
      g_disk.delayUs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a[0] != '-') {
      fuseArgs.push_back(argv[i]);
    } else {
      return false;
    }
  }
  if (g_disk.capacity == 0 || g_disk.capacity > g_disk.size) g_disk.capacity = g_disk.size;
  return g_disk.size > 0 && fuseArgs.size() == 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> fuseArgs;
  if (!ParseOptions(argc, argv, fuseArgs)) {
    std::fprintf(stderr,
                 "usage: fakedisk MOUNTPOINT --size BYTES [--capacity BYTES [--wrap|--drop]] "
                 "[--fail-sync] [--fail-writes-after BYTES] [--uncached] [--delay-us N]\n");
    return 2;
  }
  g_disk.bytes.assign(g_disk.capacity, 0);
  static char foreground[] = "-f", single[] = "-s";
  fuseArgs.push_back(foreground);
  fuseArgs.push_back(single);
  struct fuse_operations ops {};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.fsync = Sync;
  ops.truncate = Truncate;
  return fuse_main(static_cast<int>(fuseArgs.size()), fuseArgs.data(), &ops, nullptr);
}

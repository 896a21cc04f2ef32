#include "test_binding_win32.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "disk_structs.h"

// Last: <windows.h> defines macros named like the constants of the portable
// headers, so below this line the Windows names are the macros.
#include <windows.h>
#include <winioctl.h>

namespace vornak {

namespace {

// Physical drive numbers handed out for the test drives: 60 + letter index.
constexpr int kFirstPhysical = 60;

char UpperLetter(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The letter of "E:", "e:\", "\\.\E:"; 0 for anything else.
char LetterOfRoot(const char* root) {
  if (!root || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':') return 0;
  if (root[2] != '\0' && !(root[2] == '\\' && root[3] == '\0')) return 0;
  return UpperLetter(root[0]);
}

char LetterOfVolumePath(const char* name) {
  if (!name || std::strncmp(name, "\\\\.\\", 4) != 0) return 0;
  return LetterOfRoot(name + 4);
}

int PhysicalNumber(const char* name) {
  static const char kPrefix[] = "\\\\.\\PHYSICALDRIVE";
  if (!name) return -1;
  const std::size_t n = sizeof kPrefix - 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (!name[i] || std::toupper(static_cast<unsigned char>(name[i])) != kPrefix[i]) return -1;
  }
  char* end = nullptr;
  const long v = std::strtol(name + n, &end, 10);
  if (end == name + n || *end != '\0') return -1;
  return static_cast<int>(v);
}

}  // namespace

std::vector<TestDrive> ParseTestDrives(const std::string& text) {
  std::vector<TestDrive> drives;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string letter, image, word;
    if (!(words >> letter >> image)) continue;
    if (letter.size() != 2 || letter[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(letter[0]))) {
      continue;
    }
    TestDrive d;
    d.letter = UpperLetter(letter[0]);
    d.image = image;
    bool good = true;
    while (words >> word) {
      if (word == "unplugged") {
        d.plugged = false;
      } else if (word.compare(0, 4, "bad=") == 0) {
        std::istringstream list(word.substr(4));
        std::string item;
        while (std::getline(list, item, ',')) {
          char* end = nullptr;
          const unsigned long first = std::strtoul(item.c_str(), &end, 10);
          unsigned long count = 1;
          if (end == item.c_str()) {
            good = false;
            break;
          }
          if (*end == '+') count = std::strtoul(end + 1, &end, 10);
          if (*end != '\0' || count == 0) {
            good = false;
            break;
          }
          d.bad.emplace_back(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count));
        }
      } else {
        good = false;
      }
    }
    if (good) drives.push_back(d);
  }
  return drives;
}

TestDiskBinding::TestDiskBinding(DiskPlatform& real, std::string configPath)
    : real_(real), configPath_(std::move(configPath)) {
  Reload();
}

std::unique_ptr<TestDiskBinding> TestDiskBinding::FromEnvironment(DiskPlatform& real) {
  char path[MAX_PATH] = {0};
  const DWORD n = ::GetEnvironmentVariableA("VORNAK_TEST_DRIVES", path, sizeof path);
  if (n == 0 || n >= sizeof path) return nullptr;
  return std::make_unique<TestDiskBinding>(real, path);
}

void TestDiskBinding::Reload() {
  HANDLE h = ::CreateFileA(configPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    drives_.clear();
    return;
  }
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  ::CloseHandle(h);
  drives_ = ParseTestDrives(text);
}

const TestDrive* TestDiskBinding::Find(char letter) const {
  for (const TestDrive& d : drives_) {
    if (d.letter == letter) return &d;
  }
  return nullptr;
}

std::uint64_t TestDiskBinding::ImageSize(const TestDrive& drive) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(drive.image.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

DiskHandle TestDiskBinding::CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                                        std::uint32_t disposition, std::uint32_t flags) {
  ownError_ = false;
  const int physical = PhysicalNumber(name);
  if (physical >= kFirstPhysical && physical < kFirstPhysical + 26) {
    const TestDrive* d = Find(static_cast<char>('A' + physical - kFirstPhysical));
    if (!d || !d->plugged) {
      ownError_ = true;
      lastError_ = ERROR_FILE_NOT_FOUND;
      return kInvalidHandle;
    }
    const DiskHandle h = nextPseudo_++;
    open_[h] = Open{d->letter, true, 0};
    return h;
  }
  const char letter = LetterOfVolumePath(name);
  const TestDrive* d = letter ? Find(letter) : nullptr;
  if (d && !d->plugged) {
    ownError_ = true;
    lastError_ = ERROR_FILE_NOT_FOUND;
    return kInvalidHandle;
  }
  const DiskHandle h = real_.CreateFileA(name, access, share, disposition, flags);
  if (d && h != kInvalidHandle) open_[h] = Open{d->letter, false, 0};
  return h;
}

bool TestDiskBinding::CloseHandle(DiskHandle h) {
  auto it = open_.find(h);
  if (it != open_.end()) {
    const bool physical = it->second.physical;
    open_.erase(it);
    if (physical) return true;
  }
  return real_.CloseHandle(h);
}

bool TestDiskBinding::DeviceIoControl(DiskHandle h, std::uint32_t code, void* in,
                                      std::uint32_t inSize, void* out, std::uint32_t outSize,
                                      std::uint32_t* returned) {
  auto it = open_.find(h);
  if (it == open_.end()) return real_.DeviceIoControl(h, code, in, inSize, out, outSize, returned);
  const TestDrive* d = Find(it->second.letter);
  ownError_ = true;
  if (!d || !d->plugged) {
    lastError_ = ERROR_NOT_READY;
    return false;
  }
  const std::uint64_t size = ImageSize(*d);
  if (!it->second.physical && code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
    if (!out || outSize < sizeof(DISK_GEOMETRY)) {
      lastError_ = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    DISK_GEOMETRY g;
    std::memset(&g, 0, sizeof g);
    g.MediaType = kMediaTypeRemovable;
    g.TracksPerCylinder = 255;
    g.SectorsPerTrack = 63;
    g.BytesPerSector = 512;
    g.Cylinders = static_cast<std::int64_t>(size / (255u * 63u * 512u));
    std::memcpy(out, &g, sizeof g);
    if (returned) *returned = sizeof g;
    return true;
  }
  if (it->second.physical && code == IOCTL_DISK_GET_DRIVE_LAYOUT) {
    if (!out || outSize < kFirstPartitionLengthOffset + 8) {
      lastError_ = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    std::memset(out, 0, outSize);
    unsigned char* p = static_cast<unsigned char*>(out);
    const std::uint32_t count = 1;
    std::memcpy(p, &count, 4);
    std::memcpy(p + kFirstPartitionLengthOffset, &size, 8);
    const std::uint32_t used =
        sizeof(DRIVE_LAYOUT_INFORMATION) <= outSize ? sizeof(DRIVE_LAYOUT_INFORMATION) : outSize;
    if (returned) *returned = used;
    return true;
  }
  if (it->second.physical) {
    lastError_ = ERROR_INVALID_FUNCTION;
    return false;
  }
  ownError_ = false;
  return real_.DeviceIoControl(h, code, in, inSize, out, outSize, returned);
}

std::uint32_t TestDiskBinding::SetFilePointer(DiskHandle h, std::int32_t distance,
                                              std::uint32_t method) {
  ownError_ = false;
  const std::uint32_t pos = real_.SetFilePointer(h, distance, method);
  auto it = open_.find(h);
  if (it != open_.end() && pos != 0xFFFFFFFFu) it->second.position = pos;
  return pos;
}

bool TestDiskBinding::ReadFile(DiskHandle h, void* buffer, std::uint32_t size,
                               std::uint32_t* done) {
  ownError_ = false;
  std::uint32_t got = 0;
  const bool ok = real_.ReadFile(h, buffer, size, &got);
  if (done) *done = got;
  auto it = open_.find(h);
  if (it == open_.end()) return ok;
  const std::uint64_t start = it->second.position;
  it->second.position += got;
  const TestDrive* d = Find(it->second.letter);
  if (!d) return ok;
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  for (const auto& range : d->bad) {
    const std::uint64_t from = static_cast<std::uint64_t>(range.first) * 512u;
    const std::uint64_t to = from + static_cast<std::uint64_t>(range.second) * 512u;
    const std::uint64_t lo = from > start ? from : start;
    const std::uint64_t hi = to < start + got ? to : start + got;
    for (std::uint64_t o = lo; o < hi; ++o)
      bytes[o - start] = static_cast<unsigned char>(~bytes[o - start]);
  }
  return ok;
}

bool TestDiskBinding::WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                                std::uint32_t* done) {
  ownError_ = false;
  std::uint32_t put = 0;
  const bool ok = real_.WriteFile(h, buffer, size, &put);
  if (done) *done = put;
  auto it = open_.find(h);
  if (it != open_.end()) it->second.position += put;
  return ok;
}

std::uint32_t TestDiskBinding::GetLastError() {
  return ownError_ ? lastError_ : real_.GetLastError();
}

std::uint32_t TestDiskBinding::QueryDosDeviceA(const char* device, char* buffer,
                                               std::uint32_t max) {
  const char letter = LetterOfRoot(device);
  const TestDrive* d = letter ? Find(letter) : nullptr;
  if (!d) return real_.QueryDosDeviceA(device, buffer, max);
  ownError_ = true;
  if (!d->plugged) {
    lastError_ = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  char name[64];
  const int n = std::snprintf(name, sizeof name, "\\Device\\Harddisk%d\\DP(1)0-0+4",
                              kFirstPhysical + (letter - 'A'));
  // The result is a list of strings ended by an empty one.
  if (n < 0 || static_cast<std::uint32_t>(n) + 2 > max) {
    lastError_ = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(buffer, name, static_cast<std::size_t>(n) + 1);
  buffer[n + 1] = '\0';
  return static_cast<std::uint32_t>(n) + 2;
}

std::uint32_t TestDiskBinding::GetLogicalDriveStringsA(std::uint32_t length, char* buffer) {
  Reload();
  char system[512] = {0};
  const std::uint32_t n = real_.GetLogicalDriveStringsA(sizeof system, system);
  bool present[26] = {false};
  for (std::uint32_t i = 0; n <= sizeof system && i + 3 <= n; i += 4) {
    const char c = UpperLetter(system[i]);
    if (c >= 'A' && c <= 'Z') present[c - 'A'] = true;
  }
  for (const TestDrive& d : drives_) present[d.letter - 'A'] = d.plugged;
  std::string list;
  for (int i = 0; i < 26; ++i) {
    if (!present[i]) continue;
    list += static_cast<char>('A' + i);
    list += ":\\";
    list += '\0';
  }
  const std::uint32_t needed = static_cast<std::uint32_t>(list.size());
  if (needed + 1 > length) return needed + 1;
  std::memcpy(buffer, list.data(), needed);
  buffer[needed] = '\0';
  return needed;
}

std::uint32_t TestDiskBinding::GetDriveTypeA(const char* root) {
  const char letter = LetterOfRoot(root);
  const TestDrive* d = letter ? Find(letter) : nullptr;
  if (!d) return real_.GetDriveTypeA(root);
  return d->plugged ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
}

bool TestDiskBinding::GetVolumeInformationA(const char* root, char* volumeName,
                                            std::uint32_t volumeSize, char* fsName,
                                            std::uint32_t fsSize) {
  const char letter = LetterOfRoot(root);
  const TestDrive* d = letter ? Find(letter) : nullptr;
  if (d && !d->plugged) {
    ownError_ = true;
    lastError_ = ERROR_NOT_READY;
    return false;
  }
  ownError_ = false;
  return real_.GetVolumeInformationA(root, volumeName, volumeSize, fsName, fsSize);
}

}  // namespace vornak

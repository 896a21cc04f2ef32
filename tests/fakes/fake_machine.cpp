#include "fake_machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

namespace vornak::test {

namespace {

// Win32 error codes the fake sets.
constexpr std::uint32_t kErrInvalidFunction = 1;
constexpr std::uint32_t kErrFileNotFound = 2;
constexpr std::uint32_t kErrAccessDenied = 5;
constexpr std::uint32_t kErrInvalidHandle = 6;
constexpr std::uint32_t kErrSharingViolation = 32;
constexpr std::uint32_t kErrNotReady = 21;
constexpr std::uint32_t kErrCrc = 23;
constexpr std::uint32_t kErrSectorNotFound = 27;
constexpr std::uint32_t kErrWriteFault = 29;
constexpr std::uint32_t kErrNotSupported = 50;
constexpr std::uint32_t kErrInvalidParameter = 87;
constexpr std::uint32_t kErrInsufficientBuffer = 122;
constexpr std::uint32_t kErrNegativeSeek = 131;

// INT 21h error codes returned in AX with carry.
constexpr std::uint32_t kDosInvalidFunction = 0x01;
constexpr std::uint32_t kDosAccessDenied = 0x05;
constexpr std::uint32_t kDosInvalidDrive = 0x0F;
constexpr std::uint32_t kDosWriteProtect = 0x13;
constexpr std::uint32_t kDosSectorNotFound = 0x1B;
constexpr std::uint32_t kDosWriteFault = 0x1D;
constexpr std::uint32_t kDosReadFault = 0x1E;

constexpr std::uint32_t kChunk = 64 * 1024;

class MemoryImage : public DiskImage {
 public:
  bool Read(std::uint64_t offset, void* out, std::uint32_t size) override {
    auto* p = static_cast<std::uint8_t*>(out);
    while (size > 0) {
      const std::uint64_t index = offset / kChunk;
      const std::uint32_t within = static_cast<std::uint32_t>(offset % kChunk);
      const std::uint32_t n = std::min(size, kChunk - within);
      auto it = chunks_.find(index);
      if (it == chunks_.end())
        std::memset(p, 0, n);
      else
        std::memcpy(p, it->second.data() + within, n);
      p += n;
      offset += n;
      size -= n;
    }
    return true;
  }
  bool Write(std::uint64_t offset, const void* in, std::uint32_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(in);
    while (size > 0) {
      const std::uint64_t index = offset / kChunk;
      const std::uint32_t within = static_cast<std::uint32_t>(offset % kChunk);
      const std::uint32_t n = std::min(size, kChunk - within);
      auto it = chunks_.find(index);
      if (it == chunks_.end()) {
        // Zeros over an untouched chunk need no memory.
        if (std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; })) {
          p += n;
          offset += n;
          size -= n;
          continue;
        }
        it = chunks_.emplace(index, std::vector<std::uint8_t>(kChunk, 0)).first;
      }
      std::memcpy(it->second.data() + within, p, n);
      p += n;
      offset += n;
      size -= n;
    }
    return true;
  }

 private:
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> chunks_;
};

class FileImage : public DiskImage {
 public:
  explicit FileImage(const std::string& path)
      : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
    if (!file_) throw std::runtime_error("cannot open disk image " + path);
    file_.seekg(0, std::ios::end);
    fileSize_ = static_cast<std::uint64_t>(file_.tellg());
  }
  bool Read(std::uint64_t offset, void* out, std::uint32_t size) override {
    auto* p = static_cast<char*>(out);
    std::memset(p, 0, size);
    if (offset >= fileSize_) return true;
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(size, fileSize_ - offset));
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(p, n);
    return file_.gcount() == n;
  }
  bool Write(std::uint64_t offset, const void* in, std::uint32_t size) override {
    file_.clear();
    file_.seekp(static_cast<std::streamoff>(offset));
    file_.write(static_cast<const char*>(in), size);
    file_.flush();
    if (!file_) return false;
    fileSize_ = std::max<std::uint64_t>(fileSize_, offset + size);
    return true;
  }

 private:
  std::fstream file_;
  std::uint64_t fileSize_ = 0;
};

// Volume and drive handles do no buffering: Windows refuses
// (ERROR_INVALID_PARAMETER) a transfer that does not start at a multiple of
// the sector size, whose length is not a multiple of it, or whose buffer
// address in memory is not a multiple of it.
bool SectorAligned(const void* buffer, std::uint32_t size, std::uint64_t position) {
  return size % kSectorSize == 0 && position % kSectorSize == 0 &&
         reinterpret_cast<std::uintptr_t>(buffer) % kSectorSize == 0;
}

std::string Upper(const char* s) {
  std::string r(s ? s : "");
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

// Copies a zero-terminated string into a buffer of `size`; false when it does
// not fit.
bool CopyOut(const std::string& s, char* out, std::uint32_t size) {
  if (out == nullptr || size == 0) return false;
  if (s.size() + 1 > size) {
    std::memcpy(out, s.data(), size - 1);
    out[size - 1] = '\0';
    return false;
  }
  std::memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

}  // namespace

std::unique_ptr<DiskImage> MakeMemoryImage() { return std::make_unique<MemoryImage>(); }

std::unique_ptr<DiskImage> MakeMemoryImage(const std::vector<std::uint8_t>& bytes) {
  auto image = std::make_unique<MemoryImage>();
  if (!bytes.empty()) image->Write(0, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return image;
}

std::unique_ptr<DiskImage> MakeFileImage(const std::string& path) {
  return std::make_unique<FileImage>(path);
}

struct FakeMachine::DriveState {
  FakeDrive cfg;
  int lockCount = 0;
};

struct FakeMachine::Handle {
  enum Type { Vwin32, Volume, Physical } type = Vwin32;
  char letter = 0;
  std::uint32_t access = 0;
  std::uint32_t share = 0;
  std::uint64_t position = 0;
  bool locked = false;
  bool dismounted = false;
};

FakeMachine::FakeMachine(Family family) : family_(family) {}
FakeMachine::~FakeMachine() = default;

FakeDrive& FakeMachine::AddDrive(FakeDrive d) {
  d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(d.letter)));
  if (!d.image) d.image = MakeMemoryImage();
  auto state = std::make_unique<DriveState>();
  state->cfg = std::move(d);
  const char letter = state->cfg.letter;
  drives_[letter] = std::move(state);
  return drives_[letter]->cfg;
}

FakeMachine::DriveState* FakeMachine::FindDrive(char letter) {
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == drives_.end() ? nullptr : it->second.get();
}

const FakeMachine::DriveState* FakeMachine::FindDrive(char letter) const {
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == drives_.end() ? nullptr : it->second.get();
}

FakeDrive& FakeMachine::Drive(char letter) {
  DriveState* d = FindDrive(letter);
  if (!d) throw std::out_of_range(std::string("no fake drive ") + letter);
  return d->cfg;
}

bool FakeMachine::HasDrive(char letter) const { return FindDrive(letter) != nullptr; }

FakeMachine::DriveState* FakeMachine::PresentDrive(int driveNumber) {
  if (driveNumber < 1 || driveNumber > 26) return nullptr;
  DriveState* d = FindDrive(static_cast<char>('@' + driveNumber));
  return d && d->cfg.present ? d : nullptr;
}

std::vector<std::uint8_t> FakeMachine::Peek(char letter, std::uint64_t offset, std::uint32_t size) {
  std::vector<std::uint8_t> bytes(size);
  if (size) Drive(letter).image->Read(offset, bytes.data(), size);
  return bytes;
}

void FakeMachine::Poke(char letter, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  if (!bytes.empty())
    Drive(letter).image->Write(offset, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

int FakeMachine::LockCount(char letter) const {
  const DriveState* d = FindDrive(letter);
  return d ? d->lockCount : 0;
}

std::vector<FakeCall> FakeMachine::Calls(FakeCall::Kind kind) const {
  std::vector<FakeCall> r;
  for (const auto& c : log_)
    if (c.kind == kind) r.push_back(c);
  return r;
}

std::vector<FakeCall> FakeMachine::DosCalls(std::uint32_t eax, std::uint32_t ecx) const {
  std::vector<FakeCall> r;
  for (const auto& c : log_)
    if (c.hasRegs && c.regsIn.reg_EAX == eax && (ecx == 0 || c.regsIn.reg_ECX == ecx))
      r.push_back(c);
  return r;
}

void FakeMachine::Record(const FakeCall& c) {
  if (logging_) log_.push_back(c);
}

FakeMachine::Handle* FakeMachine::FindHandle(DiskHandle h) {
  auto it = handles_.find(h);
  return it == handles_.end() ? nullptr : it->second.get();
}

std::uint32_t FakeMachine::AddressOf(void* p) {
  if (p == nullptr) return 0;
  auto it = tokens_.find(p);
  if (it != tokens_.end()) return it->second;
  const std::uint32_t token = 0x00400000u + static_cast<std::uint32_t>(addresses_.size()) * 0x10u;
  addresses_.push_back(p);
  tokens_.emplace(p, token);
  return token;
}

void* FakeMachine::Resolve(std::uint32_t address) {
  if (address < 0x00400000u || (address - 0x00400000u) % 0x10u != 0) return nullptr;
  const std::size_t i = (address - 0x00400000u) / 0x10u;
  return i < addresses_.size() ? addresses_[i] : nullptr;
}

std::uint32_t FakeMachine::GetVersion() {
  FakeCall c{FakeCall::GetVersion};
  Record(c);
  if (versionSet_) return version_;
  return family_ == Family::Windows98 ? 0xC0000A04u : 0x0A280105u;
}

DiskHandle FakeMachine::CreateFileA(const char* name, std::uint32_t access, std::uint32_t share,
                                    std::uint32_t disposition, std::uint32_t flags) {
  FakeCall c{FakeCall::CreateFile};
  c.name = name ? name : "";
  c.access = access;
  c.share = share;
  c.disposition = disposition;
  c.flags = flags;
  const std::string n = Upper(name);
  auto handle = std::make_unique<Handle>();
  handle->access = access;
  bool ok = false;
  lastError_ = kErrFileNotFound;
  if (n == "\\\\.\\VWIN32") {
    handle->type = Handle::Vwin32;
    ok = family_ == Family::Windows98 && !vwin32Refused_;
  } else if (n.size() == 6 && n.compare(0, 4, "\\\\.\\") == 0 && n[5] == ':') {
    handle->type = Handle::Volume;
    handle->letter = n[4];
    DriveState* d = FindDrive(n[4]);
    ok = family_ == Family::WindowsNT && d && d->cfg.present && !d->cfg.openRefused &&
         disposition == win::OPEN_EXISTING;
    if (d && d->cfg.openRefused) lastError_ = kErrAccessDenied;
  } else if (n.compare(0, 17, "\\\\.\\PHYSICALDRIVE") == 0 && n.size() > 17) {
    handle->type = Handle::Physical;
    const std::string digits = n.substr(17);
    const bool numeric = std::all_of(digits.begin(), digits.end(), [](char ch) {
      return std::isdigit(static_cast<unsigned char>(ch));
    });
    if (family_ == Family::WindowsNT && numeric && disposition == win::OPEN_EXISTING) {
      const int number = std::atoi(digits.c_str());
      for (auto& [letter, d] : drives_) {
        if (d->cfg.present && d->cfg.ntStyle == NtDeviceStyle::Harddisk &&
            d->cfg.ntDeviceNumber == number) {
          handle->letter = letter;
          ok = !d->cfg.physicalOpenRefused;
          if (!ok) lastError_ = kErrAccessDenied;
          break;
        }
      }
    }
  }
  if (ok && handle->type != Handle::Vwin32 && !SharingAllowsOpen(*handle, access, share)) {
    ok = false;
    lastError_ = kErrSharingViolation;
  }
  DiskHandle h = kInvalidHandle;
  if (ok) {
    handle->share = share;
    h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = std::move(handle);
    lastError_ = 0;
  }
  c.handle = h;
  c.result = ok;
  Record(c);
  return h;
}

// CreateFile refuses (ERROR_SHARING_VIOLATION) an open whose access the share
// mode of a handle open on the same volume or drive does not allow, and one
// whose share mode does not allow the access such a handle already has. A
// volume and its physical drive are separate devices.
bool FakeMachine::SharingAllowsOpen(const Handle& opening, std::uint32_t access,
                                    std::uint32_t share) const {
  const fakes::OpenMode wanted{access, share};
  for (const auto& [id, other] : handles_) {
    if (other->type == opening.type && other->letter == opening.letter &&
        !fakes::SharingAllows({other->access, other->share}, wanted))
      return false;
  }
  const DriveState* d = FindDrive(opening.letter);
  if (opening.type == Handle::Volume && d) {
    for (const fakes::OpenMode& held : d->cfg.volumeHeldByOthers)
      if (!fakes::SharingAllows(held, wanted)) return false;
  }
  return true;
}

bool FakeMachine::CloseHandle(DiskHandle h) {
  FakeCall c{FakeCall::CloseHandle};
  c.handle = h;
  c.result = handles_.erase(h) != 0;
  if (!c.result) lastError_ = kErrInvalidHandle;
  Record(c);
  return c.result;
}

bool FakeMachine::Transfer(DriveState& d, std::uint64_t offset, void* buffer, std::uint32_t size,
                           bool write, std::uint32_t* done) {
  *done = 0;
  const FakeDrive& cfg = d.cfg;
  if (size == 0) return true;
  if (offset >= cfg.sizeBytes) {
    lastError_ = kErrSectorNotFound;
    return false;
  }
  std::uint32_t length =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(size, cfg.sizeBytes - offset));
  const auto first = static_cast<std::uint32_t>(offset / kSectorSize);
  const std::uint32_t count = (length + kSectorSize - 1) / kSectorSize;
  for (const auto& r : write ? cfg.failingWrites : cfg.failingReads) {
    if (r.Overlaps(first, count)) {
      lastError_ = write ? kErrWriteFault : kErrCrc;
      return false;
    }
  }
  for (const auto& r : write ? cfg.shortWrites : cfg.shortReads) {
    if (r.Overlaps(first, count)) {
      const std::uint32_t upTo = r.first > first ? (r.first - first) * kSectorSize : 0;
      length = std::min(length, upTo);
    }
  }
  if (length > 0) {
    const bool ok =
        write ? cfg.image->Write(offset, buffer, length) : cfg.image->Read(offset, buffer, length);
    if (!ok) {
      lastError_ = write ? kErrWriteFault : kErrCrc;
      return false;
    }
    if (!write) {
      auto* p = static_cast<std::uint8_t*>(buffer);
      for (auto it = cfg.corruptOnRead.lower_bound(offset);
           it != cfg.corruptOnRead.end() && it->first < offset + length; ++it)
        p[it->first - offset] ^= it->second;
    } else {
      bytesWritten_ += length;
    }
  }
  *done = length;
  return true;
}

bool FakeMachine::DosCall(std::uint32_t code, DIOC_REGISTERS& r, FakeCall& c) {
  auto fail = [&r](std::uint32_t dosError) {
    r.reg_EAX = (r.reg_EAX & 0xFFFF0000u) | dosError;
    r.reg_Flags |= kCarryFlag;
    return true;  // DeviceIoControl itself succeeds; the DOS call failed
  };
  auto succeed = [&r]() {
    r.reg_Flags &= ~kCarryFlag;
    return true;
  };

  if (code == win::VWIN32_DIOC_DOS_IOCTL && r.reg_EAX == dos::kIoctl) {
    DriveState* d = PresentDrive(static_cast<int>(r.reg_EBX & 0xFF));
    const std::uint32_t function = r.reg_ECX & 0xFFFF;
    if (function == dos::kGetDeviceParams) {
      auto* p = static_cast<std::uint8_t*>(Resolve(r.reg_EDX));
      if (p) c.specialFunctions = p[0];
      if (!d) return fail(kDosInvalidDrive);
      if (!p) return fail(kDosInvalidFunction);
      const std::uint64_t sectors64 = d->cfg.sizeBytes / d->cfg.bytesPerSector;
      const auto sectors =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors64, 0xFFFFFFFFu));
      DEVICEPARAMS params;
      std::memcpy(&params, p, offsetof(DEVICEPARAMS, dpReserved));
      params.dpDevType = d->cfg.deviceType;
      params.dpDevAttr = 0;
      params.dpBytesPerSec = d->cfg.bytesPerSector;
      params.dpSecPerClust = 4;
      params.dpResSectors = 1;
      params.dpFATs = 2;
      params.dpRootDirEnts = 512;
      const bool small = sectors < 0x10000 && !d->cfg.only32BitTotal;
      params.dpSectors = small ? static_cast<std::uint16_t>(sectors) : 0;
      params.dpMedia = 0xF8;
      params.dpFATsecs = 0;
      params.dpSecPerTrack = 63;
      params.dpHeads = 255;
      params.dpHiddenSecs = 0;
      params.dpHugeSectors = small ? 0 : sectors;
      // Only the part up to the 32-bit total is written: the caller's buffer
      // is not known to be any larger.
      std::memcpy(p, &params, offsetof(DEVICEPARAMS, dpHugeSectors) + 4);
      return succeed();
    }
    if (function == dos::kLockLogicalVolume) {
      if (!d) return fail(kDosInvalidDrive);
      if (d->cfg.lockRefused) return fail(kDosAccessDenied);
      ++d->lockCount;
      return succeed();
    }
    if (function == dos::kUnlockLogicalVolume) {
      if (!d) return fail(kDosInvalidDrive);
      if (d->lockCount == 0) return fail(kDosAccessDenied);
      --d->lockCount;
      return succeed();
    }
    return fail(kDosInvalidFunction);
  }

  if (code == win::VWIN32_DIOC_DOS_DRIVEINFO && r.reg_EAX == dos::kExtAbsDiskReadWrite) {
    auto* packet = static_cast<DISKIO*>(Resolve(r.reg_EBX));
    if (packet) {
      c.hasPacket = true;
      c.packetFirst = packet->diStartSector;
      c.packetCount = packet->diSectors;
      c.packetBuffer = packet->diBuffer;
    }
    if (r.reg_ECX != dos::kPacketCall || !packet) return fail(kDosInvalidFunction);
    DriveState* d = PresentDrive(static_cast<int>(r.reg_EDX & 0xFF));
    if (!d) return fail(kDosInvalidDrive);
    const bool write = (r.reg_ESI & 1u) != 0;
    if (write && r.reg_ESI != dos::kModeWrite) return fail(kDosInvalidFunction);
    if (write && d->lockCount == 0) return fail(kDosWriteProtect);
    void* buffer = Resolve(packet->diBuffer);
    const std::uint32_t size = static_cast<std::uint32_t>(packet->diSectors) * kSectorSize;
    if (!buffer && size != 0) return fail(kDosInvalidFunction);
    if (d->cfg.bytesPerSector != kSectorSize) return fail(kDosSectorNotFound);
    std::uint32_t done = 0;
    const bool ok = Transfer(*d, static_cast<std::uint64_t>(packet->diStartSector) * kSectorSize,
                             buffer, size, write, &done);
    if (!ok || done != size)
      return fail(!ok && lastError_ == kErrSectorNotFound ? kDosSectorNotFound
                  : write                                 ? kDosWriteFault
                                                          : kDosReadFault);
    return succeed();
  }

  return fail(kDosInvalidFunction);
}

bool FakeMachine::DeviceIoControl(DiskHandle h, std::uint32_t code, void* in, std::uint32_t inSize,
                                  void* out, std::uint32_t outSize, std::uint32_t* returned) {
  FakeCall c{FakeCall::DeviceIoControl};
  c.handle = h;
  c.code = code;
  c.inSize = inSize;
  c.outSize = outSize;
  if (returned) *returned = 0;
  bool ok = false;
  Handle* handle = FindHandle(h);
  if (!handle) {
    lastError_ = kErrInvalidHandle;
  } else if (handle->type == Handle::Vwin32) {
    if ((code == win::VWIN32_DIOC_DOS_IOCTL || code == win::VWIN32_DIOC_DOS_DRIVEINFO) && in &&
        out && inSize == sizeof(DIOC_REGISTERS) && outSize == sizeof(DIOC_REGISTERS)) {
      DIOC_REGISTERS r;
      std::memcpy(&r, in, sizeof r);
      c.hasRegs = true;
      c.regsIn = r;
      ok = DosCall(code, r, c);
      std::memcpy(out, &r, sizeof r);
      c.regsOut = r;
      if (returned) *returned = sizeof r;
    } else {
      lastError_ = kErrInvalidParameter;
    }
  } else {
    DriveState* d = FindDrive(handle->letter);
    if (!d || !d->cfg.present) {
      lastError_ = kErrNotReady;
    } else if (code == win::IOCTL_DISK_GET_DRIVE_GEOMETRY) {
      if (d->cfg.geometryFails) {
        lastError_ = kErrNotSupported;
      } else if (!out || outSize < sizeof(DISK_GEOMETRY)) {
        lastError_ = kErrInsufficientBuffer;
      } else {
        DISK_GEOMETRY g{};
        g.TracksPerCylinder = 255;
        g.SectorsPerTrack = 63;
        g.BytesPerSector = kSectorSize;
        g.Cylinders = static_cast<std::int64_t>(d->cfg.sizeBytes / (255ull * 63 * kSectorSize));
        g.MediaType = d->cfg.mediaType;
        const std::uint32_t n = d->cfg.geometryBytes < 0
                                    ? sizeof g
                                    : std::min<std::uint32_t>(d->cfg.geometryBytes, sizeof g);
        std::memcpy(out, &g, n);
        if (returned) *returned = n;
        ok = true;
      }
    } else if (code == win::IOCTL_DISK_GET_DRIVE_LAYOUT && handle->type == Handle::Physical) {
      // An MBR disk reports four entries.
      constexpr std::uint32_t kSize = 8 + 4 * sizeof(PARTITION_INFORMATION);
      if (!out || outSize < kSize) {
        lastError_ = kErrInsufficientBuffer;
      } else {
        std::vector<std::uint8_t> bytes(kSize, 0);
        DRIVE_LAYOUT_INFORMATION head{};
        head.PartitionCount = 4;
        head.Signature = 0x12345678u;
        head.PartitionEntry[0].StartingOffset = 0;
        head.PartitionEntry[0].PartitionLength = static_cast<std::int64_t>(
            d->cfg.partitionLength ? d->cfg.partitionLength : d->cfg.sizeBytes);
        head.PartitionEntry[0].PartitionNumber = 1;
        head.PartitionEntry[0].PartitionType = 0x06;
        head.PartitionEntry[0].RecognizedPartition = 1;
        std::memcpy(bytes.data(), &head, sizeof head);
        std::memcpy(out, bytes.data(), kSize);
        if (returned) *returned = kSize;
        ok = true;
      }
    } else if (code == win::FSCTL_LOCK_VOLUME && handle->type == Handle::Volume) {
      // The lock fails while any other handle is open on the volume, ours or
      // another program's.
      const bool othersOpen = !d->cfg.volumeHeldByOthers.empty() ||
                              std::any_of(handles_.begin(), handles_.end(), [&](const auto& other) {
                                return other.first != h && other.second->type == Handle::Volume &&
                                       other.second->letter == handle->letter;
                              });
      if (othersOpen) {
        lastError_ = kErrAccessDenied;
      } else if (d->cfg.lockRefused || d->cfg.ntLockFailures > 0) {
        if (d->cfg.ntLockFailures > 0) --d->cfg.ntLockFailures;
        lastError_ = kErrAccessDenied;
      } else {
        handle->locked = true;
        ok = true;
      }
    } else if (code == win::FSCTL_DISMOUNT_VOLUME && handle->type == Handle::Volume) {
      if (d->cfg.dismountFails) {
        lastError_ = kErrAccessDenied;
      } else {
        handle->dismounted = true;
        ok = true;
      }
    } else {
      lastError_ = kErrInvalidFunction;
    }
  }
  c.result = ok;
  c.returned = returned ? *returned : 0;
  Record(c);
  return ok;
}

std::uint32_t FakeMachine::SetFilePointer(DiskHandle h, std::int32_t distance,
                                          std::uint32_t method) {
  FakeCall c{FakeCall::SetFilePointer};
  c.handle = h;
  c.distance = distance;
  c.method = method;
  std::uint32_t result = 0xFFFFFFFFu;
  Handle* handle = FindHandle(h);
  if (!handle || handle->type == Handle::Vwin32) {
    lastError_ = kErrInvalidHandle;
  } else {
    std::int64_t base = 0;
    if (method == 1) base = static_cast<std::int64_t>(handle->position);
    if (method == 2) base = static_cast<std::int64_t>(Drive(handle->letter).sizeBytes);
    const std::int64_t target = base + distance;
    if (method > 2) {
      lastError_ = kErrInvalidParameter;
    } else if (target < 0) {
      lastError_ = kErrNegativeSeek;
    } else if (Drive(handle->letter).seeksBeforeFailure == 0) {
      lastError_ = kErrNotReady;  // INVALID_SET_FILE_POINTER, the position unchanged
    } else {
      int& left = Drive(handle->letter).seeksBeforeFailure;
      if (left > 0) --left;
      handle->position = static_cast<std::uint64_t>(target);
      result = static_cast<std::uint32_t>(handle->position);
      c.result = true;
    }
  }
  c.position = handle ? handle->position : 0;
  Record(c);
  return result;
}

bool FakeMachine::ReadFile(DiskHandle h, void* buffer, std::uint32_t size, std::uint32_t* done) {
  FakeCall c{FakeCall::ReadFile};
  c.handle = h;
  c.size = size;
  std::uint32_t n = 0;
  bool ok = false;
  Handle* handle = FindHandle(h);
  if (!handle || handle->type == Handle::Vwin32) {
    lastError_ = kErrInvalidHandle;
  } else if ((handle->access & win::GENERIC_READ) == 0) {
    lastError_ = kErrAccessDenied;
  } else {
    c.position = handle->position;
    DriveState* d = FindDrive(handle->letter);
    if (!d || !d->cfg.present) {
      lastError_ = kErrNotReady;
    } else if (!SectorAligned(buffer, size, handle->position)) {
      lastError_ = kErrInvalidParameter;
    } else {
      ok = Transfer(*d, handle->position, buffer, size, false, &n);
      handle->position += n;
    }
  }
  if (done) *done = n;
  c.done = n;
  c.result = ok;
  Record(c);
  return ok;
}

bool FakeMachine::WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                            std::uint32_t* done) {
  FakeCall c{FakeCall::WriteFile};
  c.handle = h;
  c.size = size;
  std::uint32_t n = 0;
  bool ok = false;
  Handle* handle = FindHandle(h);
  if (!handle || handle->type == Handle::Vwin32) {
    lastError_ = kErrInvalidHandle;
  } else {
    c.position = handle->position;
    DriveState* d = FindDrive(handle->letter);
    if ((handle->access & win::GENERIC_WRITE) == 0 || handle->type != Handle::Volume) {
      lastError_ = kErrAccessDenied;
    } else if (!d || !d->cfg.present) {
      lastError_ = kErrNotReady;
    } else if (d->cfg.ntWriteNeedsDismount && !handle->dismounted) {
      lastError_ = kErrAccessDenied;
    } else if (!SectorAligned(buffer, size, handle->position)) {
      lastError_ = kErrInvalidParameter;
    } else {
      ok = Transfer(*d, handle->position, const_cast<void*>(buffer), size, true, &n);
      handle->position += n;
    }
  }
  if (done) *done = n;
  c.done = n;
  c.result = ok;
  Record(c);
  return ok;
}

bool FakeMachine::FlushFileBuffers(DiskHandle h) {
  FakeCall c{FakeCall::FlushFileBuffers};
  c.handle = h;
  Handle* handle = FindHandle(h);
  c.result = handle != nullptr && handle->type != Handle::Vwin32;
  if (!c.result) lastError_ = kErrInvalidHandle;
  Record(c);
  return c.result;
}

std::uint32_t FakeMachine::GetLastError() {
  FakeCall c{FakeCall::GetLastError};
  c.code = lastError_;
  Record(c);
  return lastError_;
}

void FakeMachine::Sleep(std::uint32_t ms) {
  FakeCall c{FakeCall::Sleep};
  c.code = ms;
  sleptMs_ += ms;
  Record(c);
}

std::uint32_t FakeMachine::QueryDosDeviceA(const char* device, char* buffer, std::uint32_t max) {
  FakeCall c{FakeCall::QueryDosDevice};
  c.name = device ? device : "";
  std::uint32_t result = 0;
  const std::string n = Upper(device);
  DriveState* d = n.size() == 2 && n[1] == ':' ? FindDrive(n[0]) : nullptr;
  if (family_ == Family::WindowsNT && d && d->cfg.present) {
    std::string target = d->cfg.ntDeviceName;
    if (target.empty()) {
      char text[64];
      switch (d->cfg.ntStyle) {
        case NtDeviceStyle::Harddisk:
          std::snprintf(text, sizeof text, "\\Device\\Harddisk%d\\DP(1)0-0+4",
                        d->cfg.ntDeviceNumber);
          break;
        case NtDeviceStyle::HarddiskVolume:
          std::snprintf(text, sizeof text, "\\Device\\HarddiskVolume%d", d->cfg.ntDeviceNumber);
          break;
        case NtDeviceStyle::Other: std::snprintf(text, sizeof text, "\\Device\\Floppy0"); break;
      }
      target = text;
    }
    // The answer is a list of strings ended by an empty one.
    if (buffer && target.size() + 2 <= max) {
      std::memcpy(buffer, target.c_str(), target.size() + 1);
      buffer[target.size() + 1] = '\0';
      result = static_cast<std::uint32_t>(target.size() + 2);
      c.result = true;
    } else {
      lastError_ = kErrInsufficientBuffer;
    }
  } else {
    lastError_ = kErrFileNotFound;
  }
  c.returned = result;
  Record(c);
  return result;
}

std::uint32_t FakeMachine::GetLogicalDriveStringsA(std::uint32_t length, char* buffer) {
  FakeCall c{FakeCall::GetLogicalDriveStrings};
  c.size = length;
  std::string all;
  for (auto& [letter, d] : drives_) {
    if (!d->cfg.present) continue;
    all += letter;
    all += ":\\";
    all += '\0';
  }
  std::uint32_t result;
  if (all.size() + 1 > length || buffer == nullptr) {
    result = static_cast<std::uint32_t>(all.size() + 1);  // the size needed
  } else {
    std::memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = '\0';
    result = static_cast<std::uint32_t>(all.size());
    c.result = true;
  }
  c.returned = result;
  Record(c);
  return result;
}

std::uint32_t FakeMachine::GetDriveTypeA(const char* root) {
  FakeCall c{FakeCall::GetDriveType};
  c.name = root ? root : "";
  const std::string n = Upper(root);
  std::uint32_t type = 1;  // DRIVE_NO_ROOT_DIR
  if ((n.size() == 3 && n[1] == ':' && n[2] == '\\') || (n.size() == 2 && n[1] == ':')) {
    DriveState* d = FindDrive(n[0]);
    if (d && d->cfg.present) type = d->cfg.driveType;
  }
  c.returned = type;
  Record(c);
  return type;
}

bool FakeMachine::GetVolumeInformationA(const char* root, char* volumeName,
                                        std::uint32_t volumeSize, char* fsName,
                                        std::uint32_t fsSize) {
  FakeCall c{FakeCall::GetVolumeInformation};
  c.name = root ? root : "";
  const std::string n = Upper(root);
  bool ok = false;
  if (n.size() == 3 && n[1] == ':' && n[2] == '\\') {
    DriveState* d = FindDrive(n[0]);
    if (d && d->cfg.present) {
      ok = true;
      if (volumeName && !CopyOut(d->cfg.volumeLabel, volumeName, volumeSize)) ok = false;
      if (fsName && !CopyOut(d->cfg.fsName, fsName, fsSize)) ok = false;
      if (!ok) lastError_ = kErrInsufficientBuffer;
    } else {
      lastError_ = kErrNotReady;
    }
  } else {
    lastError_ = kErrInvalidParameter;
  }
  c.result = ok;
  Record(c);
  return ok;
}

}  // namespace vornak::test

#include "surface_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk_access.h"

namespace vornak {
namespace {

PassProgress At(bool write, bool dataArea, std::uint32_t sector, std::uint32_t total) {
  PassProgress p;
  p.write = write;
  p.dataArea = dataArea;
  p.sector = sector;
  p.percent = (sector * 100u) / total;
  p.totalSectors = total;
  return p;
}

// A chunk of 0xFF bytes to compare against: memcmp is many times faster than
// a byte loop, and a good disk reads back nothing else.
const std::uint8_t* AllFFChunk() {
  static const std::vector<std::uint8_t> chunk(kChunkBytes, 0xFF);
  return chunk.data();
}

bool AllFF(const std::uint8_t* p, std::uint32_t n) {
  for (std::uint32_t at = 0; at < n; at += kChunkBytes)
    if (std::memcmp(p + at, AllFFChunk(), std::min(kChunkBytes, n - at)) != 0) return false;
  return true;
}

// The chunk transfers of one pass, on the Windows 98 or the NT mechanism.
class PassChannel {
 public:
  PassChannel(DiskAccess& disk, const std::string& drive) : disk_(disk), drive_(drive) {}

  // Opens the channel; on Windows 98 takes the volume lock. `lockRefused`
  // tells the caller to show the lock message.
  bool Open(bool& lockRefused) {
    lockRefused = false;
    vwin32_ = disk_.OpenVwin32();
    if (vwin32_ != kInvalidHandle) {
      if (!disk_.LockVolume(drive_)) {
        lockRefused = true;
        disk_.Platform().CloseHandle(vwin32_);
        vwin32_ = kInvalidHandle;
        return false;
      }
      locked_ = true;
      return true;
    }
    volume_ = disk_.OpenNtVolume(drive_);
    return volume_ != kInvalidHandle;
  }

  bool Transfer(std::uint8_t* buffer, std::uint32_t first, std::uint32_t count, bool write) {
    if (locked_) return disk_.Vwin32Transfer(vwin32_, drive_, buffer, first, count, write);
    return write ? disk_.NtWrite(volume_, buffer, first, count)
                 : disk_.NtRead(volume_, buffer, first, count);
  }

  // After a failed transfer: whether the system says the disk is not there
  // (ERROR_FILE_NOT_FOUND, ERROR_NOT_READY, ERROR_DEVICE_NOT_CONNECTED), so
  // that trying again in pieces is pointless. The Windows 98 calls give no
  // such answer.
  bool DiskGone() {
    if (locked_) return false;
    const std::uint32_t error = disk_.Platform().GetLastError();
    return error == 2 || error == 21 || error == 1167;
  }

  // Closes the handle and, on Windows 98, releases the lock.
  ~PassChannel() {
    if (locked_) {
      disk_.Platform().CloseHandle(vwin32_);
      disk_.UnlockVolume(drive_);
    } else if (volume_ != kInvalidHandle) {
      disk_.Platform().CloseHandle(volume_);
    }
  }

  PassChannel(const PassChannel&) = delete;
  PassChannel& operator=(const PassChannel&) = delete;

 private:
  DiskAccess& disk_;
  const std::string& drive_;
  DiskHandle vwin32_ = kInvalidHandle;
  DiskHandle volume_ = kInvalidHandle;
  bool locked_ = false;
};

// A buffer whose start is aligned for direct transfers (4096 bytes covers
// the sector and the page), filled with 0xFF.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(std::size_t bytes) : storage_(bytes + kAlign, 0xFF) {
    const auto at = reinterpret_cast<std::uintptr_t>(storage_.data());
    data_ = storage_.data() + (kAlign - at % kAlign) % kAlign;
  }
  std::uint8_t* data() { return data_; }

 private:
  static constexpr std::size_t kAlign = 4096;
  std::vector<std::uint8_t> storage_;
  std::uint8_t* data_ = nullptr;
};

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The stamp's bytes, at `at` (the sector's stamp offset).
void PutStamp(std::uint8_t* at, std::uint32_t sector, std::uint64_t salt) {
  Put32(at, static_cast<std::uint32_t>(salt));
  Put32(at + 4, static_cast<std::uint32_t>(salt >> 32));
  Put32(at + 8, sector);
  Put32(at + 12, ~sector);
}

// The system area of a pass: 0xFF, no pumping, no Stop, the first failure or
// difference ends the pass. A verify that finds other sectors' stamps there
// counts them (the data area's writes landed on it).
bool SystemArea(PassChannel& channel, FormatUi& ui, const FatTexts& texts, bool write,
                std::uint32_t systemSectors, std::uint32_t total, const SurfaceOptions& options,
                SurfaceFindings& findings) {
  const std::uint32_t chunk = std::max<std::uint32_t>(1, options.chunkSectors);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(chunk, systemSectors)) * 512,
                                   0xFF);
  for (std::uint32_t p = 0; p < systemSectors; p += chunk) {
    const std::uint32_t n = std::min(chunk, systemSectors - p);
    const std::uint32_t bytes = n * 512;
    ui.ShowPassProgress(At(write, false, p, total));
    std::memset(buffer.data(), write ? 0xFF : 0x00, bytes);
    if (!channel.Transfer(buffer.data(), p, n, write)) return false;
    if (!write && !AllFF(buffer.data(), bytes)) {
      std::uint32_t other = 0;
      for (std::uint32_t i = 0; options.stamped && i < n; ++i)
        if (ReadStamp(buffer.data() + i * 512, options.salt, other)) ++findings.misplacedSectors;
      ui.MessageBoxA(texts.MsgSysAreaErr.c_str(), "Sorry!", mb::MB_ICONHAND);
      return false;
    }
  }
  return true;
}

// The dialog's data area: 32-sector chunks of 0xFF, one pumped message and a
// Stop check per chunk, the first failed transfer ends the pass, and every
// byte that does not read back as 0xFF marks its cluster.
bool DialogDataArea(PassChannel& channel, FormatUi& ui, bool write, std::uint32_t systemSectors,
                    std::uint32_t dataSectors, std::uint32_t perCluster, BadClusterList& bad) {
  std::vector<std::uint8_t> dataBuffer(kChunkBytes, 0xFF);
  const std::uint32_t total = systemSectors + dataSectors;
  for (std::uint32_t d = 0; d < dataSectors; d += kChunkSectors) {
    const std::uint32_t n = std::min(kChunkSectors, dataSectors - d);
    const std::uint32_t bytes = n * 512;
    ui.PumpOneMessage();
    if (!ui.IsRunning()) return false;
    const std::uint32_t sector = systemSectors + d;
    ui.ShowPassProgress(At(write, true, sector, total));
    std::memset(dataBuffer.data(), write ? 0xFF : 0x00, bytes);
    if (!channel.Transfer(dataBuffer.data(), sector, n, write)) return false;
    if (!write && !AllFF(dataBuffer.data(), bytes)) {
      bool haveLast = false;
      std::uint32_t last = 0;
      for (std::uint32_t i = 0; i < bytes; ++i) {
        if (dataBuffer[i] == 0xFF) continue;
        const std::uint32_t cluster = (d + i / 512) / perCluster;
        if (!haveLast || cluster != last) bad.push_back(cluster);
        haveLast = true;
        last = cluster;
      }
    }
  }
  return true;
}

// The data area with a front end's options: transfers of any size, failed
// ones retried in halves, sectors stamped and checked one by one. Bad
// sectors are gathered by number and become clusters at the end.
class DataArea {
 public:
  DataArea(PassChannel& channel, FormatUi& ui, const SurfaceOptions& options, bool write,
           std::uint32_t systemSectors, std::uint32_t dataSectors, SurfaceFindings& findings)
      : channel_(channel),
        ui_(ui),
        options_(options),
        write_(write),
        first_(systemSectors),
        sectors_(dataSectors),
        chunk_(std::max<std::uint32_t>(1, options.chunkSectors)),
        findings_(findings),
        buffer_(static_cast<std::size_t>(chunk_) * 512),
        stampAt_(StampOffset(options.salt)) {}

  // False on a Stop, a failure that ends the pass, or (without retries) any
  // failed transfer.
  bool Run() {
    for (std::uint32_t d = 0; d < sectors_; d += chunk_) {
      const std::uint32_t n = std::min(chunk_, sectors_ - d);
      chunkStart_ = d;
      if (!Piece(d, n)) return false;
    }
    return true;
  }

  // The bad clusters found (sorted, each once): sectors that did not read
  // back as written, and sectors whose write failed.
  BadClusterList Clusters(std::uint32_t perCluster) const {
    BadClusterList clusters;
    for (std::uint32_t d : bad_) clusters.push_back(d / perCluster);
    for (std::uint32_t d : findings_.unwritten) clusters.push_back(d / perCluster);
    std::sort(clusters.begin(), clusters.end());
    clusters.erase(std::unique(clusters.begin(), clusters.end()), clusters.end());
    return clusters;
  }

 private:
  // One chunk or retried piece, sectors d to d + n - 1 of the data area:
  // one pumped message, the Stop check, the progress, then the transfer.
  bool Piece(std::uint32_t d, std::uint32_t n) {
    ui_.PumpOneMessage();
    if (!ui_.IsRunning()) return false;
    ui_.ShowPassProgress(At(write_, true, first_ + d, first_ + sectors_));
    return Move(d, n);
  }

  bool Move(std::uint32_t d, std::uint32_t n) {
    std::uint8_t* data = buffer_.data() + (d - chunkStart_) * 512;
    if (write_) Stamp(d, n, data);
    // A read is checked only when it delivered every byte, so the buffer is
    // not cleared first.
    if (channel_.Transfer(data, first_ + d, n, write_)) {
      if (!write_) Check(d, n, data);
      return true;
    }
    if (!options_.retrySmaller || channel_.DiskGone()) return false;
    if (n == 1) {
      if (write_) {
        findings_.unwritten.push_back(d);
      } else {
        ++findings_.unreadableSectors;
        bad_.push_back(d);
      }
      return true;
    }
    const std::uint32_t half = n / 2;
    return Piece(d, half) && Piece(d + half, n - half);
  }

  // What sectors d to d + n - 1 hold after the write pass.
  void Stamp(std::uint32_t d, std::uint32_t n, std::uint8_t* to) {
    if (!options_.stamped) return;
    for (std::uint32_t i = 0; i < n; ++i)
      PutStamp(to + i * 512 + stampAt_, first_ + d + i, options_.salt);
  }

  // Each sector against what it should hold, sector by sector: comparing
  // with a whole written copy of the request would read twice the memory,
  // which costs as much again as the read itself from a fast device.
  void Check(std::uint32_t d, std::uint32_t n, const std::uint8_t* got) {
    if (!options_.stamped && AllFF(got, n * 512)) return;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (Holds(got + i * 512, first_ + d + i)) continue;
      std::uint32_t other = 0;
      if (options_.stamped && ReadStamp(got + i * 512, options_.salt, other) &&
          other != first_ + d + i)
        ++findings_.misplacedSectors;
      bad_.push_back(d + i);
    }
  }

  // Whether a sector holds what the write pass put there.
  bool Holds(const std::uint8_t* sector, std::uint32_t number) const {
    if (!options_.stamped) return AllFF(sector, 512);
    std::uint8_t stamp[kStampBytes];
    PutStamp(stamp, number, options_.salt);
    return std::memcmp(sector + stampAt_, stamp, kStampBytes) == 0 && AllFF(sector, stampAt_) &&
           AllFF(sector + stampAt_ + kStampBytes, 512 - stampAt_ - kStampBytes);
  }

  PassChannel& channel_;
  FormatUi& ui_;
  const SurfaceOptions& options_;
  const bool write_;
  const std::uint32_t first_, sectors_, chunk_;
  SurfaceFindings& findings_;
  AlignedBuffer buffer_;  // 0xFF and the stamps written; what is read back
  const std::uint32_t stampAt_;
  std::uint32_t chunkStart_ = 0;
  std::vector<std::uint32_t> bad_;  // data-area sectors that did not read back
};

bool IsDialogPass(const SurfaceOptions& o) {
  return o.chunkSectors == kChunkSectors && !o.retrySmaller && !o.stamped;
}

// Marks the bad clusters in both FATs, where their entries exist.
void MarkBadClusters(const FatLayout& layout, std::uint8_t* image, SurfaceState& state) {
  const std::uint32_t fatBytes = layout.fatSectors * 512;
  const std::uint32_t clusterBytes = ClusterBytes(layout);
  if (image == nullptr) return;
  std::uint8_t* fat1 = image + 512;
  std::uint8_t* fat2 = fat1 + fatBytes;
  for (std::uint32_t c : state.badClusters) {
    const std::uint64_t offset = (static_cast<std::uint64_t>(c) + 2) * 2;
    if (offset + 2 > fatBytes) continue;
    fat1[offset] = fat2[offset] = 0xF7;
    fat1[offset + 1] = fat2[offset + 1] = 0xFF;
    state.badBytes += clusterBytes;
  }
}

}  // namespace

std::uint32_t StampOffset(std::uint64_t salt) {
  return static_cast<std::uint32_t>((salt ^ (salt >> 32)) % (512 / kStampBytes)) * kStampBytes;
}

bool ReadStamp(const std::uint8_t* data, std::uint64_t salt, std::uint32_t& sector) {
  const std::uint32_t at = StampOffset(salt);
  std::uint8_t stamp[kStampBytes];
  PutStamp(stamp, Get32(data + at + 8), salt);
  if (std::memcmp(stamp, data + at, kStampBytes) != 0) return false;
  if (!AllFF(data, at) || !AllFF(data + at + kStampBytes, 512 - at - kStampBytes)) return false;
  sector = Get32(data + at + 8);
  return true;
}

std::string PassStatusText(const FatTexts& texts, const PassProgress& progress) {
  const std::string& area =
      progress.dataArea ? (progress.write ? texts.MsgDataAreaWrite : texts.MsgDataAreaRead)
                        : (progress.write ? texts.MsgSystemAreaWrite : texts.MsgSystemAreaRead);
  if (progress.end) return area + ": End";
  char text[256];
  std::snprintf(text, sizeof text, "%s: %d(%d%%)", area.c_str(), static_cast<int>(progress.sector),
                static_cast<int>(progress.percent));
  return text;
}

bool SurfacePass(DiskAccess& disk, FormatUi& ui, const FatTexts& texts, const FatLayout& layout,
                 const std::string& drive, std::uint32_t systemSectors, std::uint32_t dataSectors,
                 std::uint8_t* image, PassMode mode, SurfaceState state,
                 const SurfaceOptions& options) {
  const bool write = mode == PassMode::Write;
  state.badClusters.clear();
  state.badBytes = 0;
  SurfaceFindings spare;
  SurfaceFindings& findings = state.findings ? *state.findings : spare;
  if (write)
    findings.unwritten.clear();
  else
    findings.unreadableSectors = findings.misplacedSectors = 0;

  // The channel is closed (and the volume unlocked) before the end is shown.
  const bool covered = [&] {
    PassChannel channel(disk, drive);
    bool lockRefused = false;
    if (!channel.Open(lockRefused)) {
      if (lockRefused) ui.MessageBoxA(texts.MsgLockFail.c_str(), "Sorry!", mb::MB_ICONHAND);
      return false;
    }
    const std::uint32_t total = systemSectors + dataSectors;
    if (!SystemArea(channel, ui, texts, write, systemSectors, total, options, findings))
      return false;
    const std::uint32_t perCluster = std::max<std::uint32_t>(1, SectorsPerCluster(layout));
    if (IsDialogPass(options)) {
      if (!DialogDataArea(channel, ui, write, systemSectors, dataSectors, perCluster,
                          state.badClusters))
        return false;
    } else {
      DataArea area(channel, ui, options, write, systemSectors, dataSectors, findings);
      if (!area.Run()) return false;
      if (!write) state.badClusters = area.Clusters(perCluster);
    }
    MarkBadClusters(layout, image, state);
    return true;
  }();
  if (!covered) return false;

  PassProgress end;
  end.write = write;
  end.dataArea = true;
  end.end = true;
  end.sector = systemSectors + dataSectors;
  end.percent = 100;
  end.totalSectors = systemSectors + dataSectors;
  ui.ShowPassProgress(end);
  return true;
}

}  // namespace vornak

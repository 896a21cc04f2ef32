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
  return p;
}

// A chunk of 0xFF bytes to compare against: memcmp is many times faster than
// a byte loop, and a good disk reads back nothing else.
const std::uint8_t* AllFFChunk() {
  static const std::vector<std::uint8_t> chunk(kChunkBytes, 0xFF);
  return chunk.data();
}

bool AllFF(const std::uint8_t* p, std::uint32_t n) { return std::memcmp(p, AllFFChunk(), n) == 0; }

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

}  // namespace

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
                 std::uint8_t* image, PassMode mode, SurfaceState state) {
  const bool write = mode == PassMode::Write;
  state.badClusters.clear();
  state.badBytes = 0;
  std::vector<std::uint8_t> systemBuffer(kChunkBytes, 0xFF);
  std::vector<std::uint8_t> dataBuffer(kChunkBytes, 0xFF);

  // The channel is closed (and the volume unlocked) before the end is shown.
  const bool covered = [&] {
    PassChannel channel(disk, drive);
    bool lockRefused = false;
    if (!channel.Open(lockRefused)) {
      if (lockRefused) ui.MessageBoxA(texts.MsgLockFail.c_str(), "Sorry!", mb::MB_ICONHAND);
      return false;
    }

    const std::uint32_t total = systemSectors + dataSectors;

    // System area: no pumping, no Stop.
    for (std::uint32_t p = 0; p < systemSectors; p += kChunkSectors) {
      const std::uint32_t n = std::min(kChunkSectors, systemSectors - p);
      const std::uint32_t bytes = n * 512;
      ui.ShowPassProgress(At(write, false, p, total));
      std::memset(systemBuffer.data(), write ? 0xFF : 0x00, bytes);
      if (!channel.Transfer(systemBuffer.data(), p, n, write)) return false;
      if (!write && !AllFF(systemBuffer.data(), bytes)) {
        ui.MessageBoxA(texts.MsgSysAreaErr.c_str(), "Sorry!", mb::MB_ICONHAND);
        return false;
      }
    }

    // Data area: one pumped message and a Stop check per chunk.
    const std::uint32_t perCluster = std::max<std::uint32_t>(1, SectorsPerCluster(layout));
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
          if (!haveLast || cluster != last) state.badClusters.push_back(cluster);
          haveLast = true;
          last = cluster;
        }
      }
    }

    // Mark the bad clusters in both FATs, where their entries exist.
    const std::uint32_t fatBytes = layout.fatSectors * 512;
    const std::uint32_t clusterBytes = ClusterBytes(layout);
    if (image != nullptr) {
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
    return true;
  }();
  if (!covered) return false;

  PassProgress end;
  end.write = write;
  end.dataArea = true;
  end.end = true;
  end.sector = systemSectors + dataSectors;
  end.percent = 100;
  ui.ShowPassProgress(end);
  return true;
}

}  // namespace vornak

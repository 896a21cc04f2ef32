// The capacity probe: how much of what a disk claims it really holds, found
// in seconds by writing a few hundred stamped blocks rather than the whole
// disk. Counterfeit sticks and cards claim more than their memory; writes
// past it wrap onto earlier addresses or vanish.
//
// Every sector the probe writes carries a magic, the run's random salt and
// its own address, so a sector that reads back another address's stamp
// shares its memory with that address (a wrap), and one without its stamp
// lost the write. A reference block at sector 0 is read back at every
// power-of-two distance (a wrap onto the start shows it there), blocks are
// sampled across the disk along with a stretch at its start that a wrap of
// any period reaches, and the edge between the last good and the first bad
// block is narrowed down to the sector. Every round reads back all blocks
// written so far, so a later block that wrapped onto an earlier one shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornak_cli {

constexpr std::uint32_t kProbeSectorBytes = 512;
// Sectors per probe block (4 KiB, the page size of flash and of O_DIRECT).
constexpr std::uint32_t kProbeBlockSectors = 8;
// Blocks sampled across the disk, one in each of as many equal stretches.
constexpr std::uint32_t kProbeSamples = 576;
// The most blocks stamped one after another at the start (16 MiB). The start
// is two stretches long, so a wrap of any period is found on disks up to
// 4.5 GiB; on larger ones only a wrap onto the start's blocks is.
constexpr std::uint32_t kProbeStartBlocks = 4096;

// The disk, in 512-byte sectors. Reads and writes are of whole sectors.
class ProbeDevice {
 public:
  virtual ~ProbeDevice() = default;
  virtual std::uint64_t Sectors() = 0;
  // False on an I/O failure, with the reason in FailureText.
  virtual bool Read(std::uint64_t sector, std::uint32_t count, unsigned char* buffer) = 0;
  virtual bool Write(std::uint64_t sector, std::uint32_t count, const unsigned char* buffer) = 0;
  // Puts what was written on the device and makes the next reads come from
  // the device rather than from a cache. False on failure.
  virtual bool Settle() = 0;
  virtual std::string FailureText() = 0;
};

// The contents of sectors [sector, sector + bytes.size() / 512).
struct SavedBlock {
  std::uint64_t sector = 0;
  std::vector<unsigned char> bytes;
};

// Keeps what the probe overwrites somewhere safe, before it is overwritten.
class ProbeJournal {
 public:
  virtual ~ProbeJournal() = default;
  // False when the blocks could not be kept (the probe then writes nothing).
  virtual bool Keep(const std::vector<SavedBlock>& blocks) = 0;
};

enum class ProbePhase { Saving, Writing, Reading, Restoring };

struct ProbeCallbacks {
  // Called before each phase and then every few blocks: blocks done of total.
  std::function<void(ProbePhase, std::uint32_t done, std::uint32_t total)> progress;
  // Asked between requests; true ends the probe (after the restore).
  std::function<bool()> stopRequested;
};

struct ProbeOptions {
  std::uint64_t seed = 0;  // the sample positions
  std::uint64_t salt = 0;  // in every stamp; fresh for each run
  std::uint32_t samples = kProbeSamples;
};

enum class ProbeVerdict { Genuine, Counterfeit, Failed, Stopped };

struct ProbeResult {
  ProbeVerdict verdict = ProbeVerdict::Failed;
  std::uint64_t claimedSectors = 0;
  std::uint64_t usableSectors = 0;  // the claimed ones on a genuine disk
  // The first sector that does not keep what is written to it (counterfeit).
  std::uint64_t firstBadSector = 0;
  // It reads back the stamp of `wrapsTo` (a wrap) rather than losing it.
  bool wraps = false;
  std::uint64_t wrapsTo = 0;
  std::uint32_t blocksWritten = 0;
  std::uint32_t readDistances = 0;  // power-of-two distances read for a wrap
  std::string failure;              // when failed: what failed, with the reason
  // The original contents are back (false when a restore write failed, and
  // for a run without a journal).
  bool restored = false;
};

// Probes `device`. With a journal, every block is handed to it before it is
// written, and all are written back at the end, also after a failure or a
// stop; without one (destructive) the stamps stay. Only the verdict's
// numbers count: a read or write error is Failed, never Counterfeit.
ProbeResult ProbeCapacity(ProbeDevice& device, ProbeJournal* journal, const ProbeOptions& options,
                          const ProbeCallbacks& callbacks);

// Writes the blocks back, the last saved first (so a block saved twice, or
// two addresses sharing one memory, end with the oldest contents), settles,
// and reads back those that begin below `checkBelow` to compare them. A
// saved sector holding a stamp of `salt` was saved after another address
// sharing its memory had been written, and is not compared: the copy saved
// first put the memory's old contents back. False with `failure` set when a
// write fails or a compared sector differs.
bool RestoreBlocks(ProbeDevice& device, const std::vector<SavedBlock>& blocks,
                   std::uint64_t checkBelow, std::uint64_t salt, std::string& failure);

// The stamp of sector `address` for `salt`, and the address whose stamp a
// sector holds (false when it holds none of this salt).
void StampSector(std::uint64_t salt, std::uint64_t address, unsigned char* sector);
bool ReadStamp(std::uint64_t salt, const unsigned char* sector, std::uint64_t& address);

}  // namespace vornak_cli

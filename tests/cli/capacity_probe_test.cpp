// The capacity probe against disks in memory that hold less than they claim
// (wrapping or losing what is written past their memory) and genuine ones:
// the edge to the sector, no genuine disk judged counterfeit, and every
// overwritten block back afterwards, also after a stop or an I/O error.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capacity_probe.h"

namespace {

using vornak_cli::ProbeResult;
using vornak_cli::ProbeVerdict;
using vornak_cli::SavedBlock;

constexpr std::uint64_t kMiB = 2048;  // sectors

// A disk of `claimed` sectors storing `capacity` of them; past them a write
// wraps modulo the capacity or vanishes (and reads give 0xFF). It starts
// with a pattern that no two sectors share.
class MemoryDisk : public vornak_cli::ProbeDevice {
 public:
  enum Kind { Wrap, Drop };
  MemoryDisk(std::uint64_t claimed, std::uint64_t capacity, Kind kind = Drop)
      : claimed_(claimed), capacity_(capacity), kind_(kind), bytes(capacity * 512) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
  }
  std::uint64_t Sectors() override { return claimed_; }
  bool Read(std::uint64_t sector, std::uint32_t count, unsigned char* buffer) override {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (failRead && failRead(sector + i)) return false;
      const std::int64_t at = Stored(sector + i);
      if (at < 0)
        std::memset(buffer + i * 512, 0xFF, 512);
      else
        std::memcpy(buffer + i * 512, &bytes[static_cast<std::size_t>(at) * 512], 512);
    }
    return true;
  }
  bool Write(std::uint64_t sector, std::uint32_t count, const unsigned char* buffer) override {
    if (failWrite && failWrite(sector)) return false;
    ++writes;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::int64_t at = Stored(sector + i);
      if (at >= 0) std::memcpy(&bytes[static_cast<std::size_t>(at) * 512], buffer + i * 512, 512);
    }
    return true;
  }
  bool Settle() override { return true; }
  std::string FailureText() override { return "memory: Input/output error"; }

  std::function<bool(std::uint64_t)> failRead, failWrite;
  int writes = 0;

 private:
  std::int64_t Stored(std::uint64_t sector) const {
    if (sector < capacity_) return static_cast<std::int64_t>(sector);
    return kind_ == Wrap ? static_cast<std::int64_t>(sector % capacity_) : -1;
  }
  std::uint64_t claimed_, capacity_;
  Kind kind_;

 public:
  std::vector<unsigned char> bytes;
};

struct MemoryJournal : vornak_cli::ProbeJournal {
  bool Keep(const std::vector<SavedBlock>& blocks) override {
    if (refuse) return false;
    kept.insert(kept.end(), blocks.begin(), blocks.end());
    return true;
  }
  bool refuse = false;
  std::vector<SavedBlock> kept;
};

ProbeResult Probe(MemoryDisk& disk, vornak_cli::ProbeJournal* journal, std::uint64_t seed = 1,
                  std::function<bool()> stop = nullptr) {
  vornak_cli::ProbeOptions options;
  options.seed = seed;
  options.salt = 0x5A17 + seed;
  vornak_cli::ProbeCallbacks callbacks;
  callbacks.stopRequested = std::move(stop);
  return vornak_cli::ProbeCapacity(disk, journal, options, callbacks);
}

TEST(CapacityProbe, FindsTheEdgeOfACounterfeitToTheSectorAndPutsEverythingBack) {
  struct Case {
    MemoryDisk::Kind kind;
    std::uint64_t capacity;
    bool wraps;
  } cases[] = {
      {MemoryDisk::Wrap, 16 * kMiB, true},
      {MemoryDisk::Drop, 16 * kMiB, false},
      {MemoryDisk::Wrap, 1 * kMiB, true},
      {MemoryDisk::Drop, 10 * kMiB + 3, false},
      {MemoryDisk::Drop, 63 * kMiB + 5, false},
      {MemoryDisk::Drop, 0, false},
      // Wraps whose period is no power of two: they land on the stamped start.
      {MemoryDisk::Wrap, 10 * kMiB + 3, true},
      {MemoryDisk::Wrap, 37 * kMiB, true},
      {MemoryDisk::Wrap, 63 * kMiB + 5, true},
      {MemoryDisk::Wrap, 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.capacity) + (c.kind == MemoryDisk::Wrap ? " wrap" : " drop"));
    MemoryDisk disk(64 * kMiB, c.capacity, c.kind);
    const std::vector<unsigned char> before = disk.bytes;
    MemoryJournal journal;
    const ProbeResult r = Probe(disk, &journal);
    EXPECT_EQ(r.verdict, ProbeVerdict::Counterfeit) << r.failure;
    EXPECT_EQ(r.claimedSectors, 64 * kMiB);
    EXPECT_EQ(r.usableSectors, c.capacity);
    EXPECT_EQ(r.firstBadSector, c.capacity);
    EXPECT_EQ(r.wraps, c.wraps);
    if (c.wraps) {
      EXPECT_EQ(r.wrapsTo, 0u);
    }
    EXPECT_TRUE(r.restored);
    EXPECT_TRUE(disk.bytes == before) << "the disk was not put back as it was";
    EXPECT_FALSE(journal.kept.empty());
  }
}

TEST(CapacityProbe, NeverJudgesAGenuineDiskCounterfeit) {
  struct Size {
    std::uint64_t sectors;
    std::uint64_t seeds;
  } sizes[] = {{8 * kMiB, 100}, {8 * kMiB + 3, 100}, {8, 10}, {100 * kMiB + 1, 3}};
  for (const Size& size : sizes) {
    MemoryDisk disk(size.sectors, size.sectors);
    const std::vector<unsigned char> before = disk.bytes;
    for (std::uint64_t seed = 1; seed <= size.seeds; ++seed) {
      MemoryJournal journal;
      const ProbeResult r = Probe(disk, &journal, seed);
      ASSERT_EQ(r.verdict, ProbeVerdict::Genuine) << size.sectors << " sectors, seed " << seed;
      ASSERT_EQ(r.usableSectors, size.sectors);
      ASSERT_TRUE(disk.bytes == before) << size.sectors << " sectors, seed " << seed;
    }
  }
}

// The stamps of one run say nothing to another: a disk that loses the new
// writes while it holds an earlier run's stamps is still found.
TEST(CapacityProbe, StampsOfAnEarlierRunAreNotTakenForThisOnes) {
  struct Dropping : MemoryDisk {
    using MemoryDisk::MemoryDisk;
    bool Write(std::uint64_t sector, std::uint32_t count, const unsigned char* b) override {
      return dropping && sector >= 16 * kMiB ? true : MemoryDisk::Write(sector, count, b);
    }
    bool dropping = false;
  } disk(64 * kMiB, 64 * kMiB);
  ASSERT_EQ(Probe(disk, nullptr, 7).verdict, ProbeVerdict::Genuine);  // its stamps stay
  disk.dropping = true;
  vornak_cli::ProbeOptions options;
  options.seed = 7;  // the same blocks, another salt
  options.salt = 0x5A17 + 8;
  const ProbeResult r = vornak_cli::ProbeCapacity(disk, nullptr, options, {});
  EXPECT_EQ(r.verdict, ProbeVerdict::Counterfeit);
  EXPECT_EQ(r.usableSectors, 16 * kMiB);
}

TEST(CapacityProbe, AStopOrAnIoErrorEndsTheProbeWithEverythingBack) {
  MemoryDisk disk(64 * kMiB, 16 * kMiB, MemoryDisk::Wrap);
  const std::vector<unsigned char> before = disk.bytes;
  MemoryJournal journal;
  ProbeResult r = Probe(disk, &journal, 3, [&] { return disk.writes >= 100; });
  EXPECT_EQ(r.verdict, ProbeVerdict::Stopped);
  EXPECT_TRUE(r.restored);
  EXPECT_TRUE(disk.bytes == before);

  // A read error is a failure, whatever the sector: not a verdict.
  MemoryDisk failing(64 * kMiB, 64 * kMiB);
  const std::vector<unsigned char> original = failing.bytes;
  failing.failRead = [](std::uint64_t s) { return s >= 40 * kMiB && s < 48 * kMiB; };
  MemoryJournal kept;
  r = Probe(failing, &kept);
  EXPECT_EQ(r.verdict, ProbeVerdict::Failed);
  EXPECT_NE(r.failure.find("reading sector"), std::string::npos) << r.failure;
  EXPECT_NE(r.failure.find("Input/output error"), std::string::npos) << r.failure;
  EXPECT_TRUE(failing.bytes == original);

  // A stretch that loses its writes below blocks that keep theirs is bad
  // sectors on a disk that holds what it claims: a failure, not a verdict.
  struct BadStretch : MemoryDisk {
    using MemoryDisk::MemoryDisk;
    bool Write(std::uint64_t sector, std::uint32_t count, const unsigned char* b) override {
      const bool lost = sector >= 20 * kMiB && sector < 21 * kMiB;
      return lost ? true : MemoryDisk::Write(sector, count, b);
    }
  } faulty(64 * kMiB, 64 * kMiB);
  const std::vector<unsigned char> unharmed = faulty.bytes;
  MemoryJournal saved;
  r = Probe(faulty, &saved);
  EXPECT_EQ(r.verdict, ProbeVerdict::Failed);
  EXPECT_NE(r.failure.find("bad sectors rather than less memory"), std::string::npos) << r.failure;
  EXPECT_TRUE(faulty.bytes == unharmed);

  // Blocks that cannot be kept are not written.
  MemoryDisk refused(64 * kMiB, 64 * kMiB);
  MemoryJournal full;
  full.refuse = true;
  r = Probe(refused, &full);
  EXPECT_EQ(r.verdict, ProbeVerdict::Failed);
  EXPECT_EQ(refused.writes, 0);
}

// Two addresses sharing one memory, each saved before it was written: the
// memory ends with what it held before either write.
TEST(CapacityProbe, RestoreEndsWithTheOldestContentsOfSharedMemory) {
  MemoryDisk disk(32, 16, MemoryDisk::Wrap);  // sector 16 + n is sector n
  const std::vector<unsigned char> before = disk.bytes;
  std::vector<SavedBlock> saved(2);
  unsigned char stamp[8 * 512];
  for (int k = 0; k < 2; ++k) {
    saved[k].sector = k * 16u;
    saved[k].bytes.resize(sizeof stamp);
    ASSERT_TRUE(disk.Read(saved[k].sector, 8, saved[k].bytes.data()));
    std::memset(stamp, 0x11 * (k + 1), sizeof stamp);
    ASSERT_TRUE(disk.Write(saved[k].sector, 8, stamp));
  }
  std::string failure;
  EXPECT_TRUE(vornak_cli::RestoreBlocks(disk, saved, 16, 0, failure)) << failure;
  EXPECT_TRUE(disk.bytes == before);
}

}  // namespace

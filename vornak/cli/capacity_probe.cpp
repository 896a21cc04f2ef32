#include "capacity_probe.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

namespace vornak_cli {

namespace {

constexpr unsigned char kMagic[8] = {'V', 'R', 'N', 'K', 'P', 'R', 'O', 'B'};
// Offsets in a stamped sector: magic, salt, address, then filler.
constexpr std::size_t kSaltAt = 8, kAddressAt = 16, kFillerAt = 24;

void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t Get64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The filler of a stamp: xorshift64* from the salt and the address, so a
// sector that kept only its first bytes is not taken for stamped.
void PutFiller(std::uint64_t salt, std::uint64_t address, unsigned char* sector) {
  std::uint64_t state = (salt ^ (address * 0x9E3779B97F4A7C15ull)) | 1;
  for (std::size_t at = kFillerAt; at < kProbeSectorBytes; at += 8) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    Put64(sector + at, state * 0x2545F4914F6CDD1Dull);
  }
}

// A run of sectors that the probe writes and reads as one request.
struct Block {
  std::uint64_t sector = 0;
  std::uint32_t count = 0;
};

// What a block read back: the first sector that does not hold its own
// stamp, and the first that holds another address's (`count` when none).
struct Reading {
  std::uint32_t count = 0;
  std::uint32_t firstBad = 0;
  std::uint32_t firstAlias = 0;
  std::uint64_t aliasOf = 0;
  bool Bad() const { return firstBad < count; }
};

class ProbeRun {
 public:
  ProbeRun(ProbeDevice& device, ProbeJournal* journal, const ProbeOptions& options,
           const ProbeCallbacks& callbacks)
      : device_(device), journal_(journal), options_(options), callbacks_(callbacks) {}

  ProbeResult Run();

 private:
  Block BlockAt(std::uint64_t index) const;
  bool Stopped();
  void Progress(ProbePhase phase, std::size_t done, std::size_t total);
  bool Fail(const std::string& what);
  bool Save(const std::vector<std::uint64_t>& indexes);
  bool Round(std::vector<std::uint64_t> indexes);
  bool ReadBack(std::uint64_t index, Reading& reading);
  void MarkAliased(std::uint64_t sector, std::uint64_t sharesWith);
  bool FindWrap();
  std::vector<std::uint64_t> Samples() const;
  bool NarrowEdge();
  bool IsEdge(std::uint64_t bad) const;
  bool Probe();
  void Note(std::uint64_t index, const Reading& reading);

  ProbeDevice& device_;
  ProbeJournal* journal_;
  ProbeOptions options_;
  const ProbeCallbacks& callbacks_;
  ProbeResult result_;
  std::uint64_t blocks_ = 0;      // blocks of the claimed size (the last may be short)
  std::uint64_t limit_ = 0;       // blocks below a wrap found by the distances
  std::uint64_t checkBelow_ = 0;  // sectors that kept their writes, as far as known
  bool stopped_ = false;
  bool counterfeit_ = false;  // an edge was found
  std::vector<SavedBlock> saved_;
  std::set<std::uint64_t> savedIndexes_;
  std::map<std::uint64_t, Reading> readings_;  // by block index
  std::set<std::uint64_t> written_;            // block indexes stamped so far
  std::vector<unsigned char> buffer_;
};

Block ProbeRun::BlockAt(std::uint64_t index) const {
  Block b;
  b.sector = index * kProbeBlockSectors;
  b.count = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(kProbeBlockSectors, result_.claimedSectors - b.sector));
  return b;
}

bool ProbeRun::Stopped() {
  if (!stopped_ && callbacks_.stopRequested && callbacks_.stopRequested()) stopped_ = true;
  return stopped_;
}

void ProbeRun::Progress(ProbePhase phase, std::size_t done, std::size_t total) {
  if (callbacks_.progress)
    callbacks_.progress(phase, static_cast<std::uint32_t>(done), static_cast<std::uint32_t>(total));
}

bool ProbeRun::Fail(const std::string& what) {
  if (result_.failure.empty()) result_.failure = what + ": " + device_.FailureText();
  return false;
}

// Reads the original contents of the blocks not saved yet and hands them to
// the journal before any of them is written.
bool ProbeRun::Save(const std::vector<std::uint64_t>& indexes) {
  if (!journal_) return true;
  std::vector<SavedBlock> fresh;
  for (const std::uint64_t index : indexes) {
    if (savedIndexes_.count(index)) continue;
    if (Stopped()) return false;
    const Block b = BlockAt(index);
    SavedBlock s;
    s.sector = b.sector;
    s.bytes.resize(std::size_t{b.count} * kProbeSectorBytes);
    if (!device_.Read(b.sector, b.count, s.bytes.data()))
      return Fail("reading sector " + std::to_string(b.sector));
    fresh.push_back(std::move(s));
    if (fresh.size() % 64 == 0) Progress(ProbePhase::Saving, fresh.size(), indexes.size());
  }
  if (fresh.empty()) return true;
  if (!journal_->Keep(fresh)) {
    result_.failure = "the overwritten blocks could not be kept; nothing was written";
    return false;
  }
  for (SavedBlock& s : fresh) {
    savedIndexes_.insert(s.sector / kProbeBlockSectors);
    saved_.push_back(std::move(s));
  }
  return true;
}

bool ProbeRun::ReadBack(std::uint64_t index, Reading& reading) {
  const Block b = BlockAt(index);
  buffer_.resize(std::size_t{b.count} * kProbeSectorBytes);
  if (!device_.Read(b.sector, b.count, buffer_.data()))
    return Fail("reading sector " + std::to_string(b.sector));
  reading = Reading{b.count, b.count, b.count, 0};
  for (std::uint32_t i = 0; i < b.count; ++i) {
    std::uint64_t address = 0;
    const bool stamped = ReadStamp(options_.salt, buffer_.data() + i * kProbeSectorBytes, address);
    if (stamped && address == b.sector + i) continue;
    // Of two addresses sharing memory, the higher one lies past the memory
    // (it wrapped onto the lower): a sector holding a higher address's
    // stamp is itself sound, and that address is the bad one.
    if (stamped && address > b.sector + i) {
      MarkAliased(address, b.sector + i);
      continue;
    }
    if (reading.firstBad == b.count) reading.firstBad = i;
    if (stamped && reading.firstAlias == b.count) {
      reading.firstAlias = i;
      reading.aliasOf = address;
    }
  }
  return true;
}

// `sector` was written and found sharing the memory of `sharesWith`, lower.
void ProbeRun::MarkAliased(std::uint64_t sector, std::uint64_t sharesWith) {
  const std::uint64_t index = sector / kProbeBlockSectors;
  const Block b = BlockAt(index);
  const std::uint32_t i = static_cast<std::uint32_t>(sector - b.sector);
  Note(index, Reading{b.count, i, i, sharesWith});
}

// Keeps the worst of what a block was seen to do: a sector that once lost
// its write or shared its memory stays bad whatever a later read shows.
void ProbeRun::Note(std::uint64_t index, const Reading& fresh) {
  auto found = readings_.find(index);
  if (found == readings_.end()) found = readings_.emplace(index, fresh).first;
  Reading& reading = found->second;
  reading.firstBad = std::min(reading.firstBad, fresh.firstBad);
  if (fresh.firstAlias < reading.firstAlias) {
    reading.firstAlias = fresh.firstAlias;
    reading.aliasOf = fresh.aliasOf;
  }
  if (reading.Bad())
    checkBelow_ = std::min(checkBelow_, index * kProbeBlockSectors + reading.firstBad);
}

// Saves, stamps (highest address first, so that of two addresses sharing
// memory the lower one keeps its stamp), settles and reads back every block
// stamped so far: a new block that wrapped onto an earlier one shows there.
bool ProbeRun::Round(std::vector<std::uint64_t> indexes) {
  std::sort(indexes.rbegin(), indexes.rend());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  Progress(ProbePhase::Saving, 0, indexes.size());
  if (!Save(indexes)) return false;
  Progress(ProbePhase::Writing, 0, indexes.size());
  for (std::size_t k = 0; k < indexes.size(); ++k) {
    if (Stopped()) return false;
    const Block b = BlockAt(indexes[k]);
    buffer_.resize(std::size_t{b.count} * kProbeSectorBytes);
    for (std::uint32_t i = 0; i < b.count; ++i)
      StampSector(options_.salt, b.sector + i, buffer_.data() + i * kProbeSectorBytes);
    if (!device_.Write(b.sector, b.count, buffer_.data()))
      return Fail("writing sector " + std::to_string(b.sector));
    ++result_.blocksWritten;
    written_.insert(indexes[k]);
    if ((k + 1) % 64 == 0) Progress(ProbePhase::Writing, k + 1, indexes.size());
  }
  if (!device_.Settle()) return Fail("flushing the written blocks");
  Progress(ProbePhase::Reading, 0, written_.size());
  std::size_t done = 0;
  for (const std::uint64_t index : written_) {
    if (Stopped()) return false;
    Reading reading;
    if (!ReadBack(index, reading)) return false;
    Note(index, reading);
    if (++done % 256 == 0) Progress(ProbePhase::Reading, done, written_.size());
  }
  return true;
}

// Stamps block 0 and reads the blocks at 1, 2, 4, ... blocks from it: a disk
// whose addresses wrap modulo a power of two shows block 0's stamp at the
// first distance past its memory. `limit_` becomes that distance.
bool ProbeRun::FindWrap() {
  if (!Round({0})) return false;
  for (std::uint64_t d = 1; d < blocks_; d *= 2) {
    if (Stopped()) return false;
    Reading reading;
    if (!ReadBack(d, reading)) return false;
    ++result_.readDistances;
    if (reading.firstAlias < reading.count) {
      reading.firstBad = reading.firstAlias;  // the sectors before it were never written
      Note(d, reading);
      limit_ = d;
      return true;
    }
  }
  return true;
}

// One block in each of `samples` equal stretches below the limit, with the
// first and the last block, and every block of a start twice as long as a
// stretch: a disk that wraps with any period P then has a whole stretch in
// [P, P + the start's length), and that stretch's block lands in the start.
std::vector<std::uint64_t> ProbeRun::Samples() const {
  std::mt19937_64 random(options_.seed);
  const std::uint64_t n =
      std::max<std::uint64_t>(1, std::min<std::uint64_t>(options_.samples, limit_));
  const std::uint64_t start =
      std::min({limit_, 2 * ((limit_ + n - 1) / n), std::uint64_t{kProbeStartBlocks}});
  std::vector<std::uint64_t> picks = {0, limit_ - 1};
  for (std::uint64_t k = 1; k < start; ++k) picks.push_back(k);
  for (std::uint64_t k = 0; k < n; ++k) {
    const std::uint64_t lo = k * limit_ / n, hi = (k + 1) * limit_ / n;
    if (hi > lo) picks.push_back(lo + random() % (hi - lo));
  }
  return picks;
}

// Between the highest good block below the lowest bad one and that bad
// block, tests up to 15 evenly spread blocks a round until they touch.
bool ProbeRun::NarrowEdge() {
  for (;;) {
    std::uint64_t bad = blocks_;
    for (const auto& entry : readings_)
      if (entry.second.Bad()) {
        bad = entry.first;
        break;
      }
    if (bad == blocks_) return true;  // genuine
    std::int64_t good = -1;
    for (const auto& entry : readings_)
      if (entry.first < bad && !entry.second.Bad()) good = static_cast<std::int64_t>(entry.first);
    const std::uint64_t gap = bad - static_cast<std::uint64_t>(good + 1);
    if (gap == 0) {
      const Reading& edge = readings_[bad];
      if (!IsEdge(bad)) {
        result_.failure = "sector " + std::to_string(bad * kProbeBlockSectors + edge.firstBad) +
                          " does not keep what is written to it, but blocks past it do: bad "
                          "sectors rather than less memory than claimed (a Low format finds "
                          "and marks them)";
        return false;
      }
      result_.firstBadSector = bad * kProbeBlockSectors + edge.firstBad;
      result_.wraps = edge.firstAlias == edge.firstBad;
      result_.wrapsTo = edge.aliasOf;
      counterfeit_ = true;
      return true;
    }
    const std::uint64_t tests = std::min<std::uint64_t>(15, gap);
    std::vector<std::uint64_t> picks;
    for (std::uint64_t k = 1; k <= tests; ++k)
      picks.push_back(static_cast<std::uint64_t>(good) + k * (gap + 1) / (tests + 1));
    if (!Round(picks)) return false;
  }
}

// Whether the first bad block is where the disk's memory ends: past it the
// disk wraps (some sector shared another's memory) or keeps nothing that
// was read back. A sector that lost its write below blocks that kept theirs
// is a bad sector of a disk that holds what it claims.
bool ProbeRun::IsEdge(std::uint64_t bad) const {
  for (const auto& entry : readings_)
    if (entry.second.firstAlias < entry.second.count) return true;
  for (auto it = readings_.upper_bound(bad); it != readings_.end(); ++it)
    if (!it->second.Bad()) return false;
  return true;
}

bool ProbeRun::Probe() {
  if (!FindWrap()) return false;
  if (!Round(Samples())) return false;
  return NarrowEdge();
}

ProbeResult ProbeRun::Run() {
  result_.claimedSectors = device_.Sectors();
  checkBelow_ = result_.claimedSectors;
  if (result_.claimedSectors < kProbeBlockSectors) {
    result_.failure =
        "the disk is too small to probe (" + std::to_string(result_.claimedSectors) + " sectors)";
    return result_;
  }
  blocks_ = (result_.claimedSectors + kProbeBlockSectors - 1) / kProbeBlockSectors;
  limit_ = blocks_;
  const bool ok = Probe();
  if (ok) {
    result_.verdict = counterfeit_ ? ProbeVerdict::Counterfeit : ProbeVerdict::Genuine;
    result_.usableSectors = counterfeit_ ? result_.firstBadSector : result_.claimedSectors;
  } else {
    result_.verdict =
        stopped_ && result_.failure.empty() ? ProbeVerdict::Stopped : ProbeVerdict::Failed;
  }
  if (journal_) {
    Progress(ProbePhase::Restoring, 0, saved_.size());
    std::string failure;
    result_.restored = RestoreBlocks(device_, saved_, checkBelow_, options_.salt, failure);
    if (!result_.restored) {
      result_.verdict = ProbeVerdict::Failed;
      result_.failure += (result_.failure.empty() ? "" : "; ") + failure;
    }
  }
  return result_;
}

}  // namespace

void StampSector(std::uint64_t salt, std::uint64_t address, unsigned char* sector) {
  std::memcpy(sector, kMagic, sizeof kMagic);
  Put64(sector + kSaltAt, salt);
  Put64(sector + kAddressAt, address);
  PutFiller(salt, address, sector);
}

bool ReadStamp(std::uint64_t salt, const unsigned char* sector, std::uint64_t& address) {
  if (std::memcmp(sector, kMagic, sizeof kMagic) != 0 || Get64(sector + kSaltAt) != salt)
    return false;
  unsigned char expected[kProbeSectorBytes];
  StampSector(salt, Get64(sector + kAddressAt), expected);
  if (std::memcmp(sector, expected, sizeof expected) != 0) return false;
  address = Get64(sector + kAddressAt);
  return true;
}

ProbeResult ProbeCapacity(ProbeDevice& device, ProbeJournal* journal, const ProbeOptions& options,
                          const ProbeCallbacks& callbacks) {
  return ProbeRun(device, journal, options, callbacks).Run();
}

bool RestoreBlocks(ProbeDevice& device, const std::vector<SavedBlock>& blocks,
                   std::uint64_t checkBelow, std::uint64_t salt, std::string& failure) {
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
    const std::uint32_t count = static_cast<std::uint32_t>(it->bytes.size() / kProbeSectorBytes);
    if (!device.Write(it->sector, count, it->bytes.data())) {
      failure = "restoring sector " + std::to_string(it->sector) + ": " + device.FailureText();
      return false;
    }
  }
  if (blocks.empty()) return true;
  if (!device.Settle()) {
    failure = "flushing the restored blocks: " + device.FailureText();
    return false;
  }
  // The first saved copy of a block is its original content.
  std::set<std::uint64_t> compared;
  std::vector<unsigned char> back;
  for (const SavedBlock& s : blocks) {
    if (s.sector >= checkBelow || !compared.insert(s.sector).second) continue;
    back.resize(s.bytes.size());
    const std::uint32_t count = static_cast<std::uint32_t>(s.bytes.size() / kProbeSectorBytes);
    if (!device.Read(s.sector, count, back.data())) {
      failure =
          "reading back restored sector " + std::to_string(s.sector) + ": " + device.FailureText();
      return false;
    }
    const std::uint64_t end = std::min(s.sector + count, checkBelow);
    for (std::uint64_t sector = s.sector; sector < end; ++sector) {
      const std::size_t at = static_cast<std::size_t>(sector - s.sector) * kProbeSectorBytes;
      std::uint64_t other = 0;
      if (ReadStamp(salt, s.bytes.data() + at, other)) continue;
      if (std::memcmp(back.data() + at, s.bytes.data() + at, kProbeSectorBytes) != 0) {
        failure = "restored sector " + std::to_string(sector) + " does not read back as saved";
        return false;
      }
    }
  }
  return true;
}

}  // namespace vornak_cli

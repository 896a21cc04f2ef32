// The capacity probe on Linux: a block device or an image file as the
// probe's device, the recovery file that keeps what a non-destructive probe
// overwrites until it is written back, and the signals that stop a probe.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capacity_probe.h"
#include "posix_disk_platform.h"

namespace vornak_cli {

// A block device is opened exclusively with O_DIRECT (buffered when its
// logical sectors are not 512 bytes); between writing and reading it is
// flushed, its buffers are dropped (BLKFLSBUF) and it is opened again. An
// image file is flushed and its cached pages dropped (posix_fadvise).
class PosixProbeDevice : public ProbeDevice {
 public:
  PosixProbeDevice(std::string path, TargetIdentity identity);
  ~PosixProbeDevice() override;
  PosixProbeDevice(const PosixProbeDevice&) = delete;
  PosixProbeDevice& operator=(const PosixProbeDevice&) = delete;

  // False, with the reason in FailureText, when it does not open.
  bool Open();
  // What keeps a cache out of the read-back, as the report says it.
  std::string CacheMethod() const;

  std::uint64_t Sectors() override { return size_ / kProbeSectorBytes; }
  bool Read(std::uint64_t sector, std::uint32_t count, unsigned char* buffer) override;
  bool Write(std::uint64_t sector, std::uint32_t count, const unsigned char* buffer) override;
  bool Settle() override;
  std::string FailureText() override { return failure_; }

 private:
  bool Fail(int error);

  std::string path_;
  TargetIdentity identity_;
  int fd_ = -1;
  bool direct_ = false;
  bool buffersDropped_ = true;  // false once BLKFLSBUF was refused
  std::uint64_t size_ = 0;
  std::string failure_;
  DirectBuffer aligned_;  // every transfer goes through it
};

// The recovery file of one probe, under $TMPDIR (else /tmp): the target's
// path and identity, then each block's address and original bytes with a
// checksum, appended and flushed to the disk before the block is written.
class RecoveryFile : public ProbeJournal {
 public:
  ~RecoveryFile() override;
  // Creates the file; false with `error` set when it cannot be made.
  bool Create(const std::string& target, const TargetIdentity& identity, std::uint64_t size,
              std::string& error);
  const std::string& path() const { return path_; }
  bool Keep(const std::vector<SavedBlock>& blocks) override;
  // Removes the file (after the blocks are back).
  void Remove();

 private:
  std::string path_;
  int fd_ = -1;
};

// A recovery file as read back. A record cut short at the end was being
// saved when the probe was killed: its block was not written yet, so it is
// left out (`cutShort`); any other damage makes the file unusable.
struct Recovery {
  std::string target;
  TargetIdentity identity;
  std::uint64_t size = 0;
  std::vector<SavedBlock> blocks;
  bool cutShort = false;
};
bool ReadRecoveryFile(const std::string& path, Recovery& recovery, std::string& error);

// Why `recovery` may not be written to its target as it is now ("" when it
// may): another file or device under that name, or another size.
std::string RecoveryTargetProblem(const Recovery& recovery);

// SIGINT, SIGTERM and SIGHUP during a probe: noted (the probe ends at the
// next request and restores), and the signal's number kept for the exit code.
void CatchProbeSignals(bool on);
int ProbeSignal();  // 0 when none came

}  // namespace vornak_cli

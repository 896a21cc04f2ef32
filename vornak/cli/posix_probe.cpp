#include "posix_probe.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vornak_cli {

namespace {

volatile std::sig_atomic_t g_probeSignal = 0;

void OnProbeSignal(int sig) { g_probeSignal = sig; }

// The file begins with this line; numbers are little-endian.
constexpr char kRecoveryMagic[] = "VORNAK-PROBE-RECOVERY 1\n";
constexpr std::size_t kMagicBytes = sizeof kRecoveryMagic - 1;

// FNV-1a, 64 bits: catches a damaged or cut record.
std::uint64_t Fnv(const unsigned char* p, std::size_t n, std::uint64_t h = 0xCBF29CE484222325ull) {
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

void Append64(std::vector<unsigned char>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Reads little-endian numbers and bytes from a buffer; `ok` turns false at
// the first read past its end.
struct Cursor {
  const std::vector<unsigned char>& data;
  std::size_t at = 0;
  bool ok = true;
  std::uint64_t U64() {
    if (data.size() - at < 8) return ok = false, 0;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | data[at + static_cast<std::size_t>(i)];
    at += 8;
    return v;
  }
  const unsigned char* Bytes(std::size_t n) {
    if (data.size() - at < n) return ok = false, nullptr;
    at += n;
    return data.data() + at - n;
  }
};

bool WriteAll(int fd, const unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

bool SameIdentity(const TargetIdentity& a, const TargetIdentity& b) {
  return a.blockDevice == b.blockDevice &&
         (a.blockDevice ? a.rdev == b.rdev : a.device == b.device && a.inode == b.inode);
}

}  // namespace

PosixProbeDevice::PosixProbeDevice(std::string path, TargetIdentity identity)
    : path_(std::move(path)), identity_(identity) {}

PosixProbeDevice::~PosixProbeDevice() {
  if (fd_ >= 0) ::close(fd_);
}

bool PosixProbeDevice::Fail(int error) {
  failure_ = path_ + ": " + std::strerror(error);
  return false;
}

bool PosixProbeDevice::Open() {
  if (fd_ >= 0) ::close(fd_);
  const int flags = O_RDWR | O_CLOEXEC | (identity_.blockDevice ? O_EXCL : 0);
  direct_ = false;
  fd_ = identity_.blockDevice ? ::open(path_.c_str(), flags | O_DIRECT) : -1;
  int logical = 0;
  if (fd_ >= 0 && (ioctl(fd_, BLKSSZGET, &logical) != 0 || logical != 512)) {
    ::close(fd_);
    fd_ = -1;
  }
  direct_ = fd_ >= 0;
  if (fd_ < 0) fd_ = ::open(path_.c_str(), flags);
  if (fd_ < 0) return Fail(errno);
  struct stat st {};
  if (fstat(fd_, &st) != 0) return Fail(errno);
  if (identity_.known && !SameIdentity(IdentityOf(st), identity_)) {
    failure_ = path_ + ": no longer the file that was checked (its name was re-pointed)";
    return false;
  }
  if (!TargetSize(fd_, size_)) return Fail(errno ? errno : ENODEV);
  return true;
}

std::string PosixProbeDevice::CacheMethod() const {
  if (!identity_.blockDevice)
    return "the image file flushed (fdatasync) and its cached pages dropped "
           "(posix_fadvise DONTNEED) between writing and reading";
  return std::string(direct_ ? "direct transfers (O_DIRECT); " : "buffered transfers; ") +
         "between writing and reading the device is flushed (fdatasync), " +
         (buffersDropped_ ? "its buffers are dropped (BLKFLSBUF)"
                          : "its buffers are kept (BLKFLSBUF was refused)") +
         " and it is opened again";
}

bool PosixProbeDevice::Read(std::uint64_t sector, std::uint32_t count, unsigned char* buffer) {
  const std::size_t bytes = std::size_t{count} * kProbeSectorBytes;
  unsigned char* p = aligned_.Get(bytes);
  if (!p) return Fail(ENOMEM);
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n =
        pread(fd_, p + got, bytes - got, static_cast<off_t>(sector * kProbeSectorBytes + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) return Fail(EIO);  // short of the size the device claims
    got += static_cast<std::size_t>(n);
  }
  std::memcpy(buffer, p, bytes);
  return true;
}

bool PosixProbeDevice::Write(std::uint64_t sector, std::uint32_t count,
                             const unsigned char* buffer) {
  const std::size_t bytes = std::size_t{count} * kProbeSectorBytes;
  unsigned char* p = aligned_.Get(bytes);
  if (!p) return Fail(ENOMEM);
  std::memcpy(p, buffer, bytes);
  std::size_t put = 0;
  while (put < bytes) {
    const ssize_t n =
        pwrite(fd_, p + put, bytes - put, static_cast<off_t>(sector * kProbeSectorBytes + put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(n < 0 ? errno : EIO);
    put += static_cast<std::size_t>(n);
  }
  return true;
}

bool PosixProbeDevice::Settle() {
  if (fdatasync(fd_) != 0) return Fail(errno);
  if (!identity_.blockDevice) {
    const int error = posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    return error == 0 || Fail(error);
  }
  if (ioctl(fd_, BLKFLSBUF, 0) != 0) buffersDropped_ = false;
  // A new open file of the device reads what the device answers now.
  return Open();
}

RecoveryFile::~RecoveryFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RecoveryFile::Create(const std::string& target, const TargetIdentity& identity,
                          std::uint64_t size, std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vornak-probe-XXXXXX";
  fd_ = mkostemp(&name[0], O_CLOEXEC);
  if (fd_ < 0) {
    error = "cannot create the recovery file " + name + ": " + std::strerror(errno);
    return false;
  }
  path_ = name;
  // The absolute name, so that --restore finds the target from any folder.
  char absolute[PATH_MAX];
  const std::string where = realpath(target.c_str(), absolute) ? absolute : target;
  std::vector<unsigned char> header(kRecoveryMagic, kRecoveryMagic + kMagicBytes);
  Append64(header, size);
  Append64(header, identity.blockDevice ? 1 : 0);
  Append64(header, static_cast<std::uint64_t>(identity.rdev));
  Append64(header, static_cast<std::uint64_t>(identity.device));
  Append64(header, static_cast<std::uint64_t>(identity.inode));
  Append64(header, where.size());
  header.insert(header.end(), where.begin(), where.end());
  Append64(header, Fnv(header.data(), header.size()));
  if (!WriteAll(fd_, header.data(), header.size()) || fsync(fd_) != 0) {
    error = "cannot write the recovery file " + path_ + ": " + std::strerror(errno);
    Remove();
    return false;
  }
  return true;
}

bool RecoveryFile::Keep(const std::vector<SavedBlock>& blocks) {
  std::vector<unsigned char> out;
  for (const SavedBlock& b : blocks) {
    const std::size_t start = out.size();
    Append64(out, b.sector);
    Append64(out, b.bytes.size());
    out.insert(out.end(), b.bytes.begin(), b.bytes.end());
    Append64(out, Fnv(out.data() + start, out.size() - start));
  }
  return fd_ >= 0 && WriteAll(fd_, out.data(), out.size()) && fsync(fd_) == 0;
}

void RecoveryFile::Remove() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!path_.empty()) unlink(path_.c_str());
}

bool ReadRecoveryFile(const std::string& path, Recovery& recovery, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<unsigned char> data;
  unsigned char chunk[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) data.insert(data.end(), chunk, chunk + n);
  ::close(fd);
  Cursor c{data};
  const unsigned char* magic = c.Bytes(kMagicBytes);
  if (!magic || std::memcmp(magic, kRecoveryMagic, kMagicBytes) != 0) {
    error = path + " is not a recovery file of vornak-cli probe";
    return false;
  }
  recovery.size = c.U64();
  recovery.identity.known = true;
  recovery.identity.blockDevice = c.U64() != 0;
  recovery.identity.rdev = static_cast<dev_t>(c.U64());
  recovery.identity.device = static_cast<dev_t>(c.U64());
  recovery.identity.inode = static_cast<ino_t>(c.U64());
  const std::uint64_t nameBytes = c.U64();
  const unsigned char* name = c.ok && nameBytes < 4096 ? c.Bytes(nameBytes) : nullptr;
  const std::size_t headerEnd = c.at;
  if (!name || c.U64() != Fnv(data.data(), headerEnd) || !c.ok) {
    error = path + " is damaged (its header does not match its checksum)";
    return false;
  }
  recovery.target.assign(reinterpret_cast<const char*>(name), nameBytes);
  while (c.at < data.size()) {
    const std::size_t start = c.at;
    SavedBlock b;
    b.sector = c.U64();
    const std::uint64_t bytes = c.U64();
    const bool sized = c.ok && bytes > 0 && bytes % kProbeSectorBytes == 0 && bytes <= (1u << 20);
    const unsigned char* p = sized ? c.Bytes(bytes) : nullptr;
    const std::size_t end = c.at;
    const std::uint64_t sum = p ? c.U64() : 0;
    if (!c.ok) {
      recovery.cutShort = true;  // the last record, cut while it was saved
      break;
    }
    if (!p || sum != Fnv(data.data() + start, end - start)) {
      error = path + " is damaged (the record at byte " + std::to_string(start) +
              " does not match its checksum); nothing was restored";
      return false;
    }
    b.bytes.assign(p, p + bytes);
    recovery.blocks.push_back(std::move(b));
  }
  return true;
}

std::string RecoveryTargetProblem(const Recovery& recovery) {
  struct stat st {};
  if (stat(recovery.target.c_str(), &st) != 0)
    return "cannot open " + recovery.target + ": " + std::strerror(errno);
  if (!SameIdentity(IdentityOf(st), recovery.identity))
    return recovery.target + " is no longer the " +
           (recovery.identity.blockDevice ? "device" : "file") +
           " that was probed (another device or file has that name now)";
  const int fd = ::open(recovery.target.c_str(), O_RDONLY | O_CLOEXEC);
  std::uint64_t size = 0;
  const bool sized = fd >= 0 && TargetSize(fd, size);
  if (fd >= 0) ::close(fd);
  if (!sized || size != recovery.size)
    return recovery.target + " is " + std::to_string(size) + " bytes now, not the " +
           std::to_string(recovery.size) + " that were probed";
  return std::string();
}

void CatchProbeSignals(bool on) {
  struct sigaction action {};
  action.sa_handler = on ? OnProbeSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  if (on) g_probeSignal = 0;
}

int ProbeSignal() { return g_probeSignal; }

}  // namespace vornak_cli

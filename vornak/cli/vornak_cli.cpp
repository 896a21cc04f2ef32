#include "vornak_cli.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "format_run.h"
#include "posix_disk_platform.h"
#include "posix_probe.h"
#include "system_area.h"
#include "terminal_format_ui.h"

namespace vornak_cli {

namespace {

const char kMainHelp[] =
    "Usage: vornak-cli COMMAND [OPTIONS]\n"
    "Formats the player's removable disk (or a disk image) with its FAT16 file system.\n"
    "\n"
    "Commands:\n"
    "  list     list the removable disks\n"
    "  format   format a disk or an image file\n"
    "  probe    measure how much a disk really holds (finds counterfeit disks)\n"
    "  version  print the program's version (also --version)\n"
    "\n"
    "'vornak-cli COMMAND --help' describes a command.\n"
    "Exit codes: 0 success, 1 the run failed or a file or device named could not\n"
    "be used, 2 bad usage (the command line itself is wrong), 3 a counterfeit\n"
    "disk (it holds less than it claims).\n";

const char kListHelp[] =
    "Usage: vornak-cli list [--all]\n"
    "Lists the disks that the kernel flags removable, with their sizes.\n"
    "\n"
    "  --all    list every disk, with its removable flag\n";

const char kFormatHelp[] =
    "Usage: vornak-cli format TARGET [OPTIONS]\n"
    "Formats TARGET, a block device (/dev/sdX or one of its partitions) or a\n"
    "regular image file, as the Windows formatter does: the FAT16 system area\n"
    "(boot sector, two FATs, root directory with the label), after a write and\n"
    "verify pass over the whole disk in Low mode. Everything on TARGET is lost.\n"
    "\n"
    "  --label L         volume label, at most 11 characters (default: keep the\n"
    "                    disk's label; --label '' for none)\n"
    "  --mode M          quick (default; keeps bad clusters marked in the old FAT),\n"
    "                    full, or low (write and verify every sector first; here\n"
    "                    each data-area sector is written as 0xFF stamped with its\n"
    "                    own number, not as plain 0xFF, so that a disk answering\n"
    "                    for one sector with another is caught; the disk is\n"
    "                    formatted afterwards either way).\n"
    "                    On Windows full first runs the system's full format; on\n"
    "                    Linux full does what quick does, only without keeping\n"
    "                    the old bad-cluster marks\n"
    "  --bootable        copy the start-up files (io.sys first) onto the disk;\n"
    "                    needs --sys and mtools\n"
    "  --sys DIR         folder of the start-up files\n"
    "  --lang ID         language of the results report: 409 English (default),\n"
    "                    804 Simplified Chinese, 404 Traditional Chinese\n"
    "  --size BYTES      create TARGET as an image file of BYTES bytes, or extend\n"
    "                    it to that size (suffixes K, M, G: binary multiples); on\n"
    "                    a block device, format only its first BYTES bytes, with\n"
    "                    the layout for that size (at most what the probe found)\n"
    "  --no-probe        do not probe a block device's real capacity first\n"
    "  --yes             answer the confirmation with yes; also allows a block\n"
    "                    device that the kernel does not flag removable\n"
    "\n"
    "Before the question, a block device is probed as 'vornak-cli probe' does\n"
    "(what the probe overwrites is back before the format writes); a\n"
    "counterfeit disk is refused (exit 3) with its usable size, which --size\n"
    "can then format.\n"
    "A mounted device is always refused. Ctrl-C (or SIGTERM, SIGHUP) during the\n"
    "Low passes stops them; the system area is then written again and the results\n"
    "are reported. The question is asked on standard error.\n"
    "\n"
    "Low moves 1 MiB a request; on a block device a request that fails is tried\n"
    "again in pieces down to single sectors, and only the clusters of the sectors\n"
    "that still fail are marked bad. After the results, a Low run prints how many\n"
    "sectors read back another address (a disk that holds less than it claims).\n";

const char kProbeHelp[] =
    "Usage: vornak-cli probe TARGET [--destructive] [--seed N] [--yes]\n"
    "       vornak-cli probe --restore FILE\n"
    "Measures how much of its claimed size TARGET (a block device or an image\n"
    "file) really holds, in seconds: counterfeit sticks and cards claim more than\n"
    "their memory, and writes past it wrap onto earlier addresses or vanish.\n"
    "Every sector written carries its own address and a random salt. A block at\n"
    "sector 0 is read back at every power-of-two distance (a disk that wraps\n"
    "shows it there), 576 blocks are sampled across the disk with every block\n"
    "of its start (two samples' spacing, at most 16 MiB), and the edge between\n"
    "the last good and the first bad block is narrowed to the sector; each\n"
    "round reads back every block written so far.\n"
    "It finds a disk whose writes past its memory vanish or read back wrong, and\n"
    "one that wraps: with any period on disks up to 4.5 GiB, on larger ones\n"
    "modulo a power of two (as memory chips come). Bad sectors between the\n"
    "samples go unseen (a Low format reads every sector).\n"
    "\n"
    "  --destructive     do not save and restore the blocks it overwrites\n"
    "  --seed N          sample positions from N (the salt stays random, so\n"
    "                    stamps left by an earlier run are never taken for new)\n"
    "  --yes             allow a block device that the kernel does not flag\n"
    "                    removable\n"
    "  --restore FILE    write back what a killed probe saved in FILE\n"
    "\n"
    "Before its first write the probe saves every block it will overwrite in a\n"
    "recovery file under $TMPDIR (named on standard error) and writes them all\n"
    "back at its end, also after Ctrl-C, SIGTERM or SIGHUP (exit 128 + the\n"
    "signal); after a crash 'vornak-cli probe --restore FILE' does it.\n"
    "It prints the claimed and the usable size, the first bad address, how the\n"
    "caches were kept out of the read-back, and the time taken.\n"
    "Exit codes: 0 genuine, 3 counterfeit, 1 the probe failed (a read or write\n"
    "error is a failure, not a verdict, and so are bad sectors: a sector that\n"
    "loses its write below blocks that keep theirs), 2 bad usage.\n";

bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& error) {
  const std::string& word = args[i];
  if (word.size() > name.size() && word.compare(0, name.size() + 1, name + "=") == 0) {
    value = word.substr(name.size() + 1);
    return true;
  }
  if (i + 1 >= args.size()) {
    error = name + " needs a value";
    return false;
  }
  value = args[++i];
  return true;
}

bool Named(const std::string& word, const char* name) {
  const std::size_t n = std::strlen(name);
  return word == name || (word.size() > n && word.compare(0, n, name) == 0 && word[n] == '=');
}

// A word that is no option: the TARGET, unless one was given already.
bool TakeTarget(const std::string& word, std::string& target, std::string& error) {
  if (target.empty()) {
    target = word;
    return true;
  }
  error = "only one TARGET may be given ('" + word + "' is one too many)";
  return false;
}

std::string ErrnoText(int error) { return std::strerror(error); }

void Print(std::FILE* f, const std::string& text) {
  std::fputs(text.c_str(), f);
  std::fflush(f);
}

}  // namespace

bool ParseByteCount(const std::string& text, std::uint64_t& bytes) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0) return false;
  std::string suffix(end);
  unsigned shift = 0;
  if (suffix == "K" || suffix == "k" || suffix == "KiB")
    shift = 10;
  else if (suffix == "M" || suffix == "m" || suffix == "MiB")
    shift = 20;
  else if (suffix == "G" || suffix == "g" || suffix == "GiB")
    shift = 30;
  else if (!suffix.empty())
    return false;
  if (shift && value > (ULLONG_MAX >> shift)) return false;
  bytes = static_cast<std::uint64_t>(value) << shift;
  return true;
}

bool ParseFormatArguments(const std::vector<std::string>& args, FormatOptions& options, bool& help,
                          std::string& error) {
  help = false;
  bool sawSys = false;
  bool optionsEnded = false;  // after "--" every word is a TARGET
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    std::string value;
    if (optionsEnded || word == "--") {
      if (!optionsEnded) {
        optionsEnded = true;
      } else if (!TakeTarget(word, options.target, error)) {
        return false;
      }
    } else if (word == "--help" || word == "-h") {
      help = true;
      return true;
    } else if (Named(word, "--label")) {
      if (!TakeValue(args, i, "--label", value, error)) return false;
      options.labelGiven = true;
      options.label = value;
    } else if (Named(word, "--mode")) {
      if (!TakeValue(args, i, "--mode", value, error)) return false;
      if (value == "quick")
        options.mode = FormatMode::Quick;
      else if (value == "full")
        options.mode = FormatMode::Full;
      else if (value == "low")
        options.mode = FormatMode::Low;
      else {
        error = "--mode must be quick, full or low, not '" + value + "'";
        return false;
      }
    } else if (word == "--bootable") {
      options.bootable = true;
    } else if (Named(word, "--sys")) {
      if (!TakeValue(args, i, "--sys", value, error)) return false;
      options.sysDir = value;
      sawSys = true;
    } else if (Named(word, "--lang")) {
      if (!TakeValue(args, i, "--lang", value, error)) return false;
      if (value == "409")
        options.languageId = 0x0409;
      else if (value == "804")
        options.languageId = 0x0804;
      else if (value == "404")
        options.languageId = 0x0404;
      else {
        error = "--lang must be 409, 804 or 404, not '" + value + "'";
        return false;
      }
    } else if (Named(word, "--size")) {
      if (!TakeValue(args, i, "--size", value, error)) return false;
      if (!ParseByteCount(value, options.size) || options.size == 0) {
        error = "--size needs a positive byte count, not '" + value + "'";
        return false;
      }
      options.sizeGiven = true;
    } else if (word == "--no-probe") {
      options.noProbe = true;
    } else if (word == "--yes" || word == "-y") {
      options.yes = true;
    } else if (word.size() > 1 && word[0] == '-') {
      error = "unknown option '" + word + "'";
      return false;
    } else if (!TakeTarget(word, options.target, error)) {
      return false;
    }
  }
  if (options.target.empty()) {
    error = "format needs a TARGET (a block device or an image file)";
    return false;
  }
  if (options.bootable && !sawSys) {
    error = "--bootable needs --sys DIR, the folder of the start-up files";
    return false;
  }
  if (sawSys && !options.bootable) {
    error = "--sys is only used with --bootable";
    return false;
  }
  if (options.sysDir.empty() && options.bootable) {
    error = "--sys needs a folder";
    return false;
  }
  if (options.labelGiven) {
    // The disk stores the label's bytes in the system's OEM code page: a
    // byte above 0x7F would be read as another character there.
    for (const char c : options.label) {
      if (static_cast<unsigned char>(c) > 0x7F) {
        error = "--label takes ASCII characters only, not '" + options.label + "'";
        return false;
      }
    }
    if (options.label.size() > static_cast<std::size_t>(vornak::kLabelMaxChars)) {
      error = "--label takes at most 11 characters (bytes as stored)";
      return false;
    }
    if (!vornak::IsValidVolumeLabel(options.label)) {
      error = "Invalid volume label! A label may not hold blanks or any of \"*+,./:;<=>?[\\]|";
      return false;
    }
  }
  return true;
}

bool ParseProbeArguments(const std::vector<std::string>& args, ProbeCommandOptions& options,
                         bool& help, std::string& error) {
  help = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    std::string value;
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (word == "--help" || word == "-h")) {
      help = true;
      return true;
    } else if (!optionsEnded && word == "--destructive") {
      options.destructive = true;
    } else if (!optionsEnded && (word == "--yes" || word == "-y")) {
      options.yes = true;
    } else if (!optionsEnded && Named(word, "--seed")) {
      if (!TakeValue(args, i, "--seed", value, error)) return false;
      char* end = nullptr;
      errno = 0;
      options.seed = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0) {
        error = "--seed needs a whole number, not '" + value + "'";
        return false;
      }
      options.seedGiven = true;
    } else if (!optionsEnded && Named(word, "--restore")) {
      if (!TakeValue(args, i, "--restore", value, error)) return false;
      options.restoreFile = value;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      error = "unknown option '" + word + "'";
      return false;
    } else if (!TakeTarget(word, options.target, error)) {
      return false;
    }
  }
  if (!options.restoreFile.empty()) {
    if (!options.target.empty() || options.destructive || options.seedGiven) {
      error = "--restore FILE takes no TARGET or other option (FILE names its target)";
      return false;
    }
    return true;
  }
  if (options.target.empty()) {
    error = "probe needs a TARGET (a block device or an image file)";
    return false;
  }
  return true;
}

namespace {

// What the kernel says of the open device that rules it out: read-only, or
// logical sectors of another size than the 512 bytes of every layout.
std::string DeviceProblem(const std::string& target) {
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();  // the open for writing says why
  int readOnly = 0;
  int sectorSize = 512;
  const bool ro = ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
  const bool sized = ioctl(fd, BLKSSZGET, &sectorSize) == 0;
  ::close(fd);
  if (ro) return target + " is read-only";
  if (sized && sectorSize != 512)
    return target + " has " + std::to_string(sectorSize) +
           "-byte logical sectors; the formatter writes 512-byte sectors only";
  return std::string();
}

}  // namespace

TargetCheck CheckTarget(const SystemPaths& paths, const FormatOptions& options) {
  TargetCheck check;
  const std::string& target = options.target;
  struct stat st {};
  if (stat(target.c_str(), &st) != 0) {
    if (errno != ENOENT || !options.sizeGiven) {
      check.message = "cannot open " + target + ": " + ErrnoText(errno) +
                      (errno == ENOENT ? " (give --size to create an image file)" : "");
      return check;
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    check.created = fd >= 0;
    if (fd < 0) {
      check.message = "cannot create " + target + ": " + ErrnoText(errno);
      return check;
    }
    const bool sized = ftruncate(fd, static_cast<off_t>(options.size)) == 0;
    const int error = errno;
    ::close(fd);
    if (!sized) {
      unlink(target.c_str());
      check.message = "cannot make " + target + " " + std::to_string(options.size) +
                      " bytes long: " + ErrnoText(error);
      return check;
    }
    if (stat(target.c_str(), &st) != 0) {
      check.message = "cannot open " + target + ": " + ErrnoText(errno);
      return check;
    }
  } else if (options.sizeGiven && S_ISREG(st.st_mode)) {
    const std::uint64_t now = static_cast<std::uint64_t>(st.st_size);
    if (now > options.size) {
      check.message = target + " is " + std::to_string(now) + " bytes, more than --size " +
                      std::to_string(options.size) + "; an image file is never shrunk";
      return check;
    }
    // Refused before it grows: the size of a file in use stays as it was.
    const std::string inUse = now < options.size ? ImageInUse(paths, st.st_dev, st.st_ino) : "";
    if (!inUse.empty()) {
      check.message = "refusing to " + options.action + " " + target + ": " + inUse;
      return check;
    }
    if (now < options.size) {
      if (truncate(target.c_str(), static_cast<off_t>(options.size)) != 0 ||
          stat(target.c_str(), &st) != 0) {
        check.message = "cannot extend " + target + ": " + ErrnoText(errno);
        return check;
      }
      check.extended = true;
      check.oldSize = now;
    }
  }
  check.identity = IdentityOf(st);
  check.size = static_cast<std::uint64_t>(st.st_size);

  if (S_ISREG(st.st_mode)) {
    const std::string inUse = ImageInUse(paths, st.st_dev, st.st_ino);
    if (!inUse.empty()) {
      check.message = "refusing to " + options.action + " " + target + ": " + inUse;
      return check;
    }
    check.ok = true;
    check.removable = true;
    return check;
  }
  if (!S_ISBLK(st.st_mode)) {
    check.message = target + " is neither a block device nor a regular file";
    return check;
  }
  check.blockDevice = true;
  const BlockDeviceInfo info = DescribeBlockDevice(paths, DevNumber(st.st_rdev));
  if (!info.found) {
    check.message = "refusing to " + options.action + " " + target +
                    ": the kernel does not describe it in " + paths.Sys() + "/dev/block";
    return check;
  }
  std::string inUse = DeviceInUse(paths, info);
  if (inUse.empty()) inUse = LoopFileInUse(paths, info);
  if (inUse.empty()) inUse = DeviceProblem(target);
  if (!inUse.empty()) {
    check.message = "refusing to " + options.action + " " + target + ": " + inUse;
    return check;
  }
  check.removable = info.removable;
  check.size = info.size;
  if (options.sizeGiven) {
    // The first bytes only: the rest of a counterfeit disk holds nothing.
    if (options.size > info.size || options.size % 512 != 0) {
      check.message = "--size " + std::to_string(options.size) + " does not fit " + target +
                      ": a device takes a whole number of 512-byte sectors up to its " +
                      std::to_string(info.size) + " bytes";
      return check;
    }
    check.limited = options.size < info.size;
    check.size = options.size;
  }
  if (!info.partition && !info.partitionDevNumbers.empty())
    check.note = "/dev/" + info.disk +
                 " has partitions; formatting it as a whole replaces "
                 "them (the Windows formatter formats the partition that has the drive letter)";
  if (!info.removable && !options.yes) {
    check.message = "refusing to " + options.action + " " + target +
                    ": the kernel does not flag /dev/" + info.disk +
                    " removable (give --yes if this really is the disk to erase)";
    return check;
  }
  check.ok = true;
  return check;
}

namespace {

// Takes back what --size did to a target that was then not written.
void UndoSize(const std::string& target, const TargetCheck& check) {
  struct stat st {};
  if (stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_dev != check.identity.device || st.st_ino != check.identity.inode)
    return;
  if (check.created) {
    unlink(target.c_str());
  } else if (check.extended && truncate(target.c_str(), static_cast<off_t>(check.oldSize)) != 0) {
  }
}

// Whether the target opens for writing as the run will open it; the
// system's reason when it does not.
std::string WritableProblem(const std::string& target, const TargetCheck& check) {
  int flags = O_RDWR | O_CLOEXEC;
  if (check.blockDevice) flags |= O_EXCL;
  const int fd = ::open(target.c_str(), flags);
  if (fd < 0) return ErrnoText(errno);
  ::close(fd);
  return std::string();
}

// An exclusive flock on an image target, released when it goes.
struct FileLock {
  int fd = -1;
  std::string problem;  // why it could not be taken ("" when held or not needed)
  FileLock(const std::string& target, const TargetCheck& check) {
    if (check.blockDevice) return;
    fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_ino != check.identity.inode ||
        st.st_dev != check.identity.device) {
      problem = "it was replaced while it was checked";
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      problem = errno == EWOULDBLOCK ? "another program (another run?) holds a lock on it"
                                     : std::string("cannot lock it: ") + ErrnoText(errno);
    }
  }
  ~FileLock() {
    if (fd >= 0) ::close(fd);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
};

}  // namespace

namespace {

// The label the disk has now, as the dialog shows it: "" when it has none or
// when the dialog would not take it.
// What the user asked for, taken before the question: the target's size and
// the layout chosen from it; without --label the disk keeps its own label.
vornak::FormatRequest MakeRequest(const FormatOptions& options, vornak::DiskAccess& access,
                                  const std::string& diskLabel, bool blockDevice) {
  vornak::FormatRequest request;
  request.drive = kCliDrive;
  request.identity.sizeBytes = access.GetDiskSize(kCliDrive);
  vornak::ChooseLayout(request.identity.sizeBytes, request.layout);
  switch (options.mode) {
    case FormatMode::Quick: request.mode = vornak::FormatMode::Quick; break;
    case FormatMode::Full: request.mode = vornak::FormatMode::Full; break;
    case FormatMode::Low: request.mode = vornak::FormatMode::Low; break;
  }
  request.label = options.labelGiven ? options.label : diskLabel;
  request.bootable = options.bootable;
  request.languageId = options.languageId;
  request.family = access.Family();
  request.useSystemFormat = false;  // no format command on Linux
  request.surface = LowPassOptions(blockDevice);
  return request;
}

// A name with its control characters as \xNN, for a message.
std::string Visible(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", u);
    out += u < 0x20 || u == 0x7F ? std::string(hex) : std::string(1, c);
  }
  return out;
}

// What rules out an entry of the start-up folder: a symbolic link that
// leads nowhere or out of the folder, or something that is neither a folder
// nor a regular file (a FIFO would hold the copy up). "" when none does.
std::string SysEntryProblem(const std::string& folder) {
  char buffer[PATH_MAX];
  if (!realpath(folder.c_str(), buffer)) return std::string();
  const std::string root = std::string(buffer) + "/";
  std::string problem;
  DIR* d = opendir(folder.c_str());
  while (d && problem.empty()) {
    const dirent* e = readdir(d);
    if (!e) break;
    const std::string name = e->d_name;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      if (!realpath(path.c_str(), buffer))
        problem = path + " is a symbolic link that leads nowhere";
      else if (std::string(buffer).compare(0, root.size(), root) != 0)
        problem = path + " is a symbolic link to a file outside the folder; it is not followed";
      else if (stat(path.c_str(), &st) != 0)
        problem = path + ": " + ErrnoText(errno);
    }
    if (problem.empty() && !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
      problem = path + " is not a regular file";
  }
  if (d) closedir(d);
  return problem;
}

// Why the --sys folder of a bootable run cannot be used; "" when it can.
std::string SysFolderProblem(const FormatOptions& options) {
  if (!options.bootable) return std::string();
  struct stat st {};
  if (stat(options.sysDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return "--sys " + options.sysDir + " is not a folder";
  const std::string ioSys = FindInFolder(options.sysDir, "io.sys");
  if (ioSys.empty() || access(ioSys.c_str(), R_OK) != 0)
    return options.sysDir + " has no readable file io.sys";
  if (FindOnPath("mcopy").empty())
    return "mcopy (mtools) is not on PATH; it copies the start-up files of a bootable disk";
  // Every file of the folder is copied: a name the disk cannot hold is
  // refused now rather than stored as something else.
  std::vector<std::string> names;
  TerminalOptions listing;
  listing.sysDir = options.sysDir;
  TerminalFormatUi(listing, options.languageId).ListBootFiles(names);
  std::string bad;
  for (const std::string& name : names)
    if (!IsVolumeFileName(name)) bad += (bad.empty() ? "\"" : ", \"") + Visible(name) + "\"";
  const std::string entry = SysEntryProblem(options.sysDir);
  if (!entry.empty()) return Visible(entry);
  if (!bad.empty())
    return options.sysDir + " holds files whose names a FAT disk cannot take: " + bad +
           " (no : * ? \" < > | \\, control characters or device names such as CON)";
  return std::string();
}

TerminalOptions MakeTerminal(const FormatOptions& options, const Console& console) {
  TerminalOptions terminal;
  terminal.target = options.target;
  terminal.assumeYes = options.yes;
  terminal.progressBar = console.outIsTerminal;
  terminal.sysDir = options.sysDir;
  terminal.in = console.in;
  terminal.out = console.out;
  terminal.err = console.err;
  return terminal;
}

bool Confirmed(const vornak::FormatOutcome& outcome) {
  return outcome.status != vornak::FormatStatus::Declined &&
         outcome.status != vornak::FormatStatus::Refused;
}

// Whether the run failed, and what the command adds to what the run said.
bool Failed(const vornak::FormatOutcome& outcome, TerminalFormatUi& ui,
            const PosixDiskPlatform& disk, std::string& message) {
  if (g_interrupted && Confirmed(outcome) && !outcome.stopped)
    Print(ui.Err(), "vornak-cli: Ctrl-C stops only the Low passes; the run went on to its end\n");
  switch (outcome.status) {
    case vornak::FormatStatus::Declined: message = "not formatted"; return true;
    case vornak::FormatStatus::Refused:
      Print(ui.Err(), "vornak-cli: " + ui.Texts().MsgUnsupport + "\n");
      message = disk.FailureText();
      return true;
    case vornak::FormatStatus::Failed: message = disk.FailureText(); return true;
    case vornak::FormatStatus::ReplugCancelled:
      message = "the run ended without its results";
      return true;
    case vornak::FormatStatus::Formatted: break;
  }
  // "Format fail!" was shown for a pass or the rewrite after it.
  if (outcome.passesFailed || outcome.rewriteFailed) {
    message = disk.FailureText();
    return true;
  }
  if (outcome.stopped) {
    message = "the surface passes were stopped; the disk is formatted but not verified";
    return true;
  }
  return false;
}

}  // namespace

namespace {

std::string SectorsText(std::uint64_t sectors) {
  const std::uint64_t bytes = sectors * kProbeSectorBytes;
  return std::to_string(bytes) + " bytes (" + HumanSize(bytes) + "), " + std::to_string(sectors) +
         " sectors";
}

const char* PhaseText(ProbePhase phase) {
  switch (phase) {
    case ProbePhase::Saving: return "saving";
    case ProbePhase::Writing: return "writing";
    case ProbePhase::Reading: return "reading back";
    case ProbePhase::Restoring: return "restoring";
  }
  return "";
}

// What one probe found, and how.
struct ProbeRecord {
  ProbeResult result;
  std::string cache;  // how the caches were kept out of the read-back
  double seconds = 0;
  std::uint64_t seed = 0;
  int signal = 0;  // the signal that stopped it
};

// Probes a checked target, saying on standard error where the overwritten
// blocks are kept (non-destructive) and what it is doing.
ProbeRecord ProbeTarget(const std::string& target, const TargetIdentity& identity, bool destructive,
                        std::uint64_t seed, Console& console) {
  ProbeRecord record;
  record.seed = seed;
  PosixProbeDevice device(target, identity);
  if (!device.Open()) {
    record.result.failure = device.FailureText();
    return record;
  }
  RecoveryFile recovery;
  std::string error;
  if (!destructive && !recovery.Create(target, identity, device.Sectors() * 512, error)) {
    record.result.failure = error;
    return record;
  }
  const std::string& file = recovery.path();
  if (!destructive)
    Print(console.err, "vornak-cli: probe: what it overwrites is kept in " + file +
                           " until it is written back (after a crash: vornak-cli probe --restore " +
                           file + ")\n");
  ProbeOptions options;
  options.seed = seed;
  options.salt = RandomWord();
  ProbeCallbacks callbacks;
  callbacks.stopRequested = [] { return ProbeSignal() != 0; };
  callbacks.progress = [&](ProbePhase phase, std::uint32_t done, std::uint32_t total) {
    if (done == 0 && total >= 16)
      Print(console.err, std::string("vornak-cli: probe: ") + PhaseText(phase) + " " +
                             std::to_string(total) + " blocks\n");
  };
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  CatchProbeSignals(true);
  record.result = ProbeCapacity(device, destructive ? nullptr : &recovery, options, callbacks);
  record.signal = ProbeSignal();
  CatchProbeSignals(false);
  clock_gettime(CLOCK_MONOTONIC, &end);
  record.seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  record.cache = device.CacheMethod();
  if (record.result.restored)
    recovery.Remove();
  else if (!destructive && record.result.blocksWritten > 0)
    Print(console.err, "vornak-cli: probe: the saved blocks are not all back; " + file +
                           " is kept: vornak-cli probe --restore " + file + "\n");
  else if (!destructive)
    recovery.Remove();  // nothing was written
  return record;
}

void PrintProbeReport(const std::string& target, const ProbeRecord& record, std::FILE* out) {
  const ProbeResult& r = record.result;
  if (r.claimedSectors == 0) return;  // it did not open
  std::string text = target + ": claims " + SectorsText(r.claimedSectors) + "\n";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", record.seconds);
  if (r.verdict == ProbeVerdict::Genuine || r.verdict == ProbeVerdict::Counterfeit) {
    text += "usable: " + SectorsText(r.usableSectors) +
            (r.verdict == ProbeVerdict::Genuine ? " (all of it)" : "") + "\n";
    if (r.verdict == ProbeVerdict::Genuine)
      text += "first bad address: none\n";
    else
      text +=
          "first bad address: byte " + std::to_string(r.firstBadSector * 512) + ", sector " +
          std::to_string(r.firstBadSector) +
          (r.wraps ? " (it reads back sector " + std::to_string(r.wrapsTo) + ": the addresses wrap)"
                   : " (what is written there is lost)") +
          "\n";
  }
  text += "cache: " + record.cache + "\n";
  text += std::string("time: ") + seconds + " s (" + std::to_string(r.blocksWritten) +
          " blocks of 4 KiB written, " + std::to_string(r.readDistances) +
          " wrap distances read, seed " + std::to_string(record.seed) + ")\n";
  if (r.verdict == ProbeVerdict::Genuine)
    text += "genuine: every block written kept its own data\n";
  else if (r.verdict == ProbeVerdict::Counterfeit)
    text += "counterfeit: it holds " + HumanSize(r.usableSectors * 512) + " of the " +
            HumanSize(r.claimedSectors * 512) + " it claims\n";
  Print(out, text);
}

int RestoreCommand(const std::string& file, Console& console) {
  Recovery recovery;
  std::string error;
  if (!ReadRecoveryFile(file, recovery, error)) {
    Print(console.err, "vornak-cli: " + error + "\n");
    return kExitFailed;
  }
  const std::string problem = RecoveryTargetProblem(recovery);
  if (!problem.empty()) {
    Print(console.err, "vornak-cli: refusing to restore " + file + ": " + problem + "\n");
    return kExitFailed;
  }
  PosixProbeDevice device(recovery.target, recovery.identity);
  if (!device.Open() || !RestoreBlocks(device, recovery.blocks, 0, 0, error)) {
    Print(console.err, "vornak-cli: " + (error.empty() ? device.FailureText() : error) + "; " +
                           file + " is kept\n");
    return kExitFailed;
  }
  unlink(file.c_str());
  Print(console.out, recovery.target + ": " + std::to_string(recovery.blocks.size()) +
                         " saved blocks written back; " + file + " removed" +
                         (recovery.cutShort ? " (its last record, cut short while it was "
                                              "saved, was never written)"
                                            : "") +
                         "\n");
  return kExitOk;
}

// The probe before a format of a block device: 0 when the format may go on,
// 3 for a counterfeit disk unless --size keeps to what it holds, 1 when the
// probe failed or was stopped.
int ProbeBeforeFormat(const FormatOptions& options, const TargetCheck& check, Console& console) {
  const ProbeRecord record =
      ProbeTarget(options.target, check.identity, false, RandomWord(), console);
  PrintProbeReport(options.target, record, console.out);
  const ProbeResult& r = record.result;
  if (record.signal || r.verdict == ProbeVerdict::Stopped) {
    Print(console.err, std::string("vornak-cli: stopped during the capacity probe") +
                           (r.restored ? " (the overwritten blocks are written back)" : "") +
                           "; not formatted\n");
    return kExitFailed;
  }
  if (r.verdict == ProbeVerdict::Failed) {
    Print(console.err, "vornak-cli: the capacity probe failed: " + r.failure +
                           "; not formatted (--no-probe skips the probe)\n");
    return kExitFailed;
  }
  const std::uint64_t usable = r.usableSectors * kProbeSectorBytes;
  if (r.verdict == ProbeVerdict::Counterfeit && (!options.sizeGiven || options.size > usable)) {
    Print(console.err,
          "vornak-cli: refusing to format " + options.target +
              ": it is counterfeit, it holds only " + std::to_string(usable) + " bytes (" +
              HumanSize(usable) + ") of the " +
              std::to_string(r.claimedSectors * kProbeSectorBytes) + " it claims" +
              (usable > 0 ? "; --size " + std::to_string(usable) + " formats what it holds" : "") +
              "\n");
    return kExitCounterfeit;
  }
  return kExitOk;
}

}  // namespace

int RunProbeCommand(const ProbeCommandOptions& options, const SystemPaths& paths,
                    Console& console) {
  // A closed pipe for the progress lines must not end a probe before the
  // blocks are back.
  signal(SIGPIPE, SIG_IGN);
  if (!options.restoreFile.empty()) return RestoreCommand(options.restoreFile, console);
  FormatOptions checked;
  checked.target = options.target;
  checked.yes = options.yes;
  checked.action = "probe";
  const TargetCheck check = CheckTarget(paths, checked);
  if (!check.ok) {
    Print(console.err, "vornak-cli: " + check.message + "\n");
    return check.exitCode;
  }
  const FileLock lock(options.target, check);
  if (!lock.problem.empty()) {
    Print(console.err,
          "vornak-cli: refusing to probe " + options.target + ": " + lock.problem + "\n");
    return kExitFailed;
  }
  const ProbeRecord record = ProbeTarget(options.target, check.identity, options.destructive,
                                         options.seedGiven ? options.seed : RandomWord(), console);
  PrintProbeReport(options.target, record, console.out);
  const ProbeResult& r = record.result;
  if (r.verdict == ProbeVerdict::Failed)
    Print(console.err, "vornak-cli: the probe failed: " + r.failure + "\n");
  if (record.signal) {
    Print(console.err, std::string("vornak-cli: probe stopped by ") + strsignal(record.signal) +
                           (r.restored ? "; the overwritten blocks are written back\n" : "\n"));
    return 128 + record.signal;
  }
  switch (r.verdict) {
    case ProbeVerdict::Genuine: return kExitOk;
    case ProbeVerdict::Counterfeit: return kExitCounterfeit;
    default: return kExitFailed;
  }
}

int RunFormatCommand(const FormatOptions& options, const SystemPaths& paths, Console& console) {
  // A closed output pipe is a write error to report, not a reason to die in
  // the middle of a run.
  signal(SIGPIPE, SIG_IGN);
  const std::string sysProblem = SysFolderProblem(options);
  if (!sysProblem.empty()) {
    Print(console.err, "vornak-cli: " + sysProblem + "\n");
    return kExitFailed;
  }

  const TargetCheck check = CheckTarget(paths, options);
  if (!check.ok) {
    Print(console.err, "vornak-cli: " + check.message + "\n");
    UndoSize(options.target, check);
    return check.exitCode;
  }
  const std::string problem = WritableProblem(options.target, check);
  if (!problem.empty()) {
    Print(console.err, "vornak-cli: cannot open " + options.target +
                           " for writing: " + options.target + ": " + problem + "\n");
    UndoSize(options.target, check);
    return kExitFailed;
  }
  // Two runs on one image file would each lose the other's writes: the
  // lock is held until the run ends (block devices are opened O_EXCL).
  const FileLock lock(options.target, check);
  if (!lock.problem.empty()) {
    Print(console.err,
          "vornak-cli: refusing to format " + options.target + ": " + lock.problem + "\n");
    UndoSize(options.target, check);
    return kExitFailed;
  }
  if (!check.note.empty()) Print(console.err, "vornak-cli: note: " + check.note + "\n");
  if (check.blockDevice && !options.noProbe) {
    const int probed = ProbeBeforeFormat(options, check, console);
    if (probed != kExitOk) return probed;
  }

  PosixDiskPlatform disk(options.target, check.removable, check.identity);
  if (check.limited) disk.LimitSize(check.size);
  TerminalFormatUi ui(MakeTerminal(options, console), options.languageId);
  vornak::DiskAccess access(disk, ui, vornak::GetOsFamily(disk), ui.Texts().MsgLockFail);
  std::string diskLabel;
  vornak::ReadVolumeLabel(access, kCliDrive, diskLabel);
  const vornak::FormatRequest request = MakeRequest(options, access, diskLabel, check.blockDevice);

  // The real size: the formatter sees at most 4 GiB - 1 bytes.
  const std::uint64_t size = check.size;
  Print(console.out,
        options.target + ": " + std::to_string(size) + " bytes (" + HumanSize(size) + "), " +
            std::to_string(size >> 9) + " sectors" +
            (check.limited ? ", the first part of the device (--size)" : "") +
            (diskLabel.empty() ? "" : ", label " + diskLabel) +
            (size > 0x40000000u ? " (more than the 1 GiB the formatter handles)" : "") + "\n");

  int result = kExitOk;
  const auto fail = [&](const std::string& message) {
    if (!message.empty()) Print(console.err, "vornak-cli: " + message + "\n");
    result = kExitFailed;
  };
  vornak::FormatOutcome outcome;
  if (options.bootable && !vornak::IsBootableAllowed(request.layout)) {
    fail(
        "a disk of this size gets a layout without room for the start-up files; it cannot be "
        "made bootable");
  } else {
    CatchInterrupt(true);
    outcome = vornak::FormatRun(request, ui, access);
    CatchInterrupt(false);
    const std::string misplaced = MisplacedLine(outcome);
    if (!misplaced.empty())
      Print(outcome.verified ? console.out : console.err,
            (outcome.verified ? "" : "vornak-cli: ") + misplaced + "\n");
    std::string message;
    if (Failed(outcome, ui, disk, message)) fail(message);
  }
  // Writes the system did not put on the disk make the run a failure even
  // when the formatter saw every call succeed.
  if (disk.WritesLost() && result == kExitOk)
    fail("the disk did not take all writes: " + disk.FailureText());
  // A file made for a run that then failed holds no usable volume.
  const bool runFailed = outcome.status == vornak::FormatStatus::Failed || disk.WritesLost();
  if (!Confirmed(outcome) || (check.created && runFailed)) UndoSize(options.target, check);

  if (std::fflush(console.out) != 0 || std::ferror(console.out)) {
    const int error = errno;
    Print(console.err, std::string("vornak-cli: cannot write to standard output: ") +
                           (error ? ErrnoText(error) : "write error") + "\n");
    result = kExitFailed;
  }
  return result;
}

int RunListCommand(const SystemPaths& paths, bool all, Console& console) {
  const std::vector<BlockDeviceInfo> disks = ListDisks(paths, all);
  if (disks.empty()) {
    Print(console.out, all ? "No disks found.\n" : "No removable disks found.\n");
    return kExitOk;
  }
  for (const BlockDeviceInfo& d : disks) {
    char line[512];
    std::snprintf(line, sizeof line, "/dev/%-8s %-10s %12llu bytes  %-11s %s%s\n", d.name.c_str(),
                  d.removable ? "removable" : "fixed", static_cast<unsigned long long>(d.size),
                  HumanSize(d.size).c_str(), d.model.c_str(),
                  d.size > 0x40000000ull ? "  (larger than 1 GiB: not supported)" : "");
    Print(console.out, line);
  }
  return kExitOk;
}

int VornakCliMain(const std::vector<std::string>& args, const SystemPaths& paths,
                  Console& console) {
  if (args.empty()) {
    Print(console.err, kMainHelp);
    return kExitUsage;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    Print(console.out, kMainHelp);
    return kExitOk;
  }
  if (command == "list") {
    bool all = false;
    for (const std::string& word : rest) {
      if (word == "--help" || word == "-h") {
        Print(console.out, kListHelp);
        return kExitOk;
      }
      if (word == "--all") {
        all = true;
        continue;
      }
      Print(console.err, "vornak-cli: list: unexpected '" + word + "'\n" + kListHelp);
      return kExitUsage;
    }
    return RunListCommand(paths, all, console);
  }
  if (command == "probe") {
    ProbeCommandOptions options;
    bool help = false;
    std::string error;
    if (!ParseProbeArguments(rest, options, help, error)) {
      Print(console.err, "vornak-cli: probe: " + error + "\n" + "Try 'vornak-cli probe --help'.\n");
      return kExitUsage;
    }
    if (help) {
      Print(console.out, kProbeHelp);
      return kExitOk;
    }
    return RunProbeCommand(options, paths, console);
  }
  if (command == "format") {
    FormatOptions options;
    bool help = false;
    std::string error;
    if (!ParseFormatArguments(rest, options, help, error)) {
      Print(console.err,
            "vornak-cli: format: " + error + "\n" + "Try 'vornak-cli format --help'.\n");
      return kExitUsage;
    }
    if (help) {
      Print(console.out, kFormatHelp);
      return kExitOk;
    }
    return RunFormatCommand(options, paths, console);
  }
  Print(console.err, "vornak-cli: unknown command '" + command + "'\n" + kMainHelp);
  return kExitUsage;
}

}  // namespace vornak_cli

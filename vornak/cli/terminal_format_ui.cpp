#include "terminal_format_ui.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "format_results.h"

extern char** environ;

namespace vornak_cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

void OnInterrupt(int) { g_interrupted = 1; }

// The bar line stays within 80 columns: 18 for the area, 24 for the bar and
// its brackets, 29 for the percent, the speed and the time left; the end
// line's summary of a 1 GiB pass ("1073.7 MB in 12.34 s, 87.0 MB/s") fits too.
constexpr int kBarWidth = 20;
// Sectors per transfer of the front end's Low passes: 1 MiB, where a loop
// device and USB sticks reach their own speed (256 KiB is slower, 4 MiB no
// faster).
constexpr std::uint32_t kLowChunkSectors = 2048;
// The bar is redrawn at most this often while the percent moves, at least
// once a second while the pass reports, and at once when an area begins or
// ends.
constexpr std::uint64_t kRedrawMs = 200;
constexpr std::uint64_t kRefreshMs = 1000;
// The speed is not told before this much of an area has passed.
constexpr std::uint64_t kRateAfterMs = 250;
// Width of the speed and time-left part of the bar line.
constexpr int kRateWidth = 25;

std::uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// "0:07", "12:34", "1:02:03".
std::string Duration(double seconds) {
  const auto s = static_cast<unsigned long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", s / 60, s % 60);
  return text;
}

// The name as a short (8.3) name when it is one, so the volume gets a plain
// upper-case entry as the system's copy would make; other names unchanged.
std::string VolumeName(const std::string& name) {
  const auto dot = name.find('.');
  const std::string stem = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  const bool shortName = !stem.empty() && stem.size() <= 8 && ext.size() <= 3 &&
                         ext.find('.') == std::string::npos &&
                         name.find_first_of(" +,;=[]") == std::string::npos;
  return shortName ? vornak::UpperAscii(name) : name;
}

}  // namespace

void CatchInterrupt(bool on) {
  // Ctrl-C, a closed terminal and a polite kill all act as Stop. The calls
  // they interrupt are not restarted, so that a read of the answer ends.
  struct sigaction action {};
  action.sa_handler = on ? OnInterrupt : SIG_DFL;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  if (on) g_interrupted = 0;
}

bool IsVolumeFileName(const std::string& name) {
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::strchr(":*?\"<>|\\/", c) != nullptr) return false;
  }
  const std::string stem = vornak::UpperAscii(name.substr(0, name.find('.')));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CLOCK$"})
    if (stem == device) return false;
  const bool numbered =
      stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0);
  return !(numbered && stem[3] >= '1' && stem[3] <= '9') && !name.empty();
}

std::string FindInFolder(const std::string& folder, const std::string& name) {
  struct stat st {};
  const std::string exact = folder + "/" + name;
  if (stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
  std::string found;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (vornak::UpperAscii(e->d_name) != vornak::UpperAscii(name)) continue;
      const std::string path = folder + "/" + e->d_name;
      if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        found = path;
        break;
      }
    }
    closedir(d);
  }
  return found;
}

std::string ReportToUtf8(const std::string& text, std::uint16_t languageId) {
  const char* from = languageId == vornak::kLangSimplifiedChinese    ? "GBK"
                     : languageId == vornak::kLangTraditionalChinese ? "BIG5"
                                                                     : nullptr;
  if (from == nullptr) return text;
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* o = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return text;
  out.resize(out.size() - outLeft);
  return out;
}

TerminalFormatUi::TerminalFormatUi(TerminalOptions options, std::uint16_t languageId)
    : options_(std::move(options)),
      languageId_(languageId),
      texts_(vornak::FormatterTexts::EnglishDefaults()) {}

bool TerminalFormatUi::AskYesNo(const std::string& question) {
  // Asked on standard error, which stays on the terminal when the output is
  // redirected to a file.
  std::FILE* ask = options_.err;
  std::fprintf(ask, "%s ", question.c_str());
  if (options_.assumeYes) {
    std::fprintf(ask, "y (--yes)\n");
    std::fflush(ask);
    return true;
  }
  std::fflush(ask);
  char line[64];
  if (g_interrupted || !std::fgets(line, sizeof line, options_.in) || g_interrupted) {
    std::fprintf(ask, "\n");
    std::fflush(ask);
    return false;
  }
  // An answer from a pipe is not echoed by a terminal: show it.
  if (!isatty(fileno(options_.in))) {
    std::fprintf(ask, "%s%s", line, std::strchr(line, '\n') ? "" : "\n");
    std::fflush(ask);
  }
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  return *p == 'y' || *p == 'Y';
}

bool TerminalFormatUi::Confirm(const vornak::FormatRequest& request) {
  fatTexts_ = request.texts;
  EndProgressLine();
  std::fprintf(options_.err, "Warning - Removable Disk(%s)\n", options_.target.c_str());
  return AskYesNo(texts_.MsgWarnFormat);
}

int TerminalFormatUi::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  EndProgressLine();
  const char* body = text ? text : "";
  if ((type & 0xF0u) == vornak::mb::MB_ICONHAND) {
    std::fprintf(options_.err, "vornak-cli: %s\n", body);
  } else {
    // "Ignore!" and the other notes.
    std::fprintf(options_.err, "vornak-cli: %s (%s)\n", body, caption ? caption : "");
  }
  std::fflush(options_.err);
  return 1;  // IDOK
}

void TerminalFormatUi::Notice(vornak::FormatNotice kind, std::uint32_t systemError,
                              const std::string& path) {
  (void)systemError;  // the front end names the device's own failure afterwards
  EndProgressLine();
  if (kind == vornak::FormatNotice::TempFileNotCreated) {
    std::fprintf(options_.err, "vornak-cli: %s (Can not create temp file!)\n", path.c_str());
  } else if (kind == vornak::FormatNotice::BootFileNotCopied) {
    std::fprintf(options_.err, "vornak-cli: %s %s was not copied: %s\n",
                 texts_.MsgFormatFail.c_str(), path.c_str(), copyFailure_.c_str());
  } else if (!formatFailShown_) {
    std::fprintf(options_.err, "vornak-cli: %s\n", texts_.MsgFormatFail.c_str());
    formatFailShown_ = true;
  }
  std::fflush(options_.err);
}

std::string TerminalFormatUi::AwaitReplug() {
  EndProgressLine();
  std::fprintf(options_.err, "vornak-cli: %s\n", texts_.MsgPlug.c_str());
  std::fflush(options_.err);
  return std::string();
}

void TerminalFormatUi::ShowReport(const std::string& drive, const vornak::FormatResults& results) {
  (void)drive;  // the target stands for the drive
  EndProgressLine();
  const std::string report = vornak::ResultsReportText(languageId_, results);
  std::fprintf(options_.out, "Format Results - Removable Disk(%s)\n\n%s", options_.target.c_str(),
               ReportToUtf8(report, languageId_).c_str());
  std::fflush(options_.out);
}

void TerminalFormatUi::CopyingBootFiles(bool copying) {
  if (!copying) return;
  EndProgressLine();
  std::fprintf(options_.out, "%s\n", texts_.MsgMaking.c_str());
  std::fflush(options_.out);
}

void TerminalFormatUi::EndProgressLine() {
  if (!barOpen_) return;
  std::fprintf(options_.out, "\n");
  std::fflush(options_.out);
  barOpen_ = false;
}

std::string TerminalFormatUi::AreaText(const vornak::PassProgress& progress) const {
  return progress.dataArea
             ? (progress.write ? fatTexts_.MsgDataAreaWrite : fatTexts_.MsgDataAreaRead)
             : (progress.write ? fatTexts_.MsgSystemAreaWrite : fatTexts_.MsgSystemAreaRead);
}

std::uint64_t TerminalFormatUi::NowMs() const {
  return options_.clockMs ? options_.clockMs() : MonotonicMs();
}

std::string TerminalFormatUi::RateText(const vornak::PassProgress& p, std::uint64_t now) const {
  const std::uint64_t elapsed = now - areaStartMs_;
  const std::uint32_t moved = p.sector - areaStartSector_;
  if (!p.dataArea || elapsed < kRateAfterMs || moved == 0 || p.sector < areaStartSector_)
    return std::string(kRateWidth, ' ');
  const double seconds = static_cast<double>(elapsed) / 1000.0;
  const double perSecond = static_cast<double>(moved) / seconds;  // sectors
  const std::uint32_t rest = p.totalSectors > p.sector ? p.totalSectors - p.sector : 0;
  char text[64];
  std::snprintf(text, sizeof text, " %6.1f MB/s %7s left", perSecond * 512.0 / 1e6,
                Duration(static_cast<double>(rest) / perSecond).c_str());
  return text;
}

std::string TerminalFormatUi::AreaSummary(const vornak::PassProgress& end,
                                          std::uint64_t now) const {
  const double bytes =
      512.0 *
      static_cast<double>(end.sector > areaStartSector_ ? end.sector - areaStartSector_ : 0);
  const double seconds = static_cast<double>(now - areaStartMs_) / 1000.0;
  char text[96];
  if (seconds > 0)
    std::snprintf(text, sizeof text, "%.1f MB in %.2f s, %.1f MB/s", bytes / 1e6, seconds,
                  bytes / 1e6 / seconds);
  else
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

void TerminalFormatUi::DrawBar(const vornak::PassProgress& p, std::uint64_t now) {
  const std::uint32_t percent = std::min<std::uint32_t>(p.percent, 100);
  const int filled = static_cast<int>(percent * kBarWidth / 100);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  const std::string label = AreaText(p);
  if (p.end) {
    // Padded over what the progress line showed.
    std::fprintf(options_.out, "\r%-18s [%s] End, %-*s\n", label.c_str(), bar.c_str(), kRateWidth,
                 AreaSummary(p, now).c_str());
  } else {
    std::fprintf(options_.out, "\r%-18s [%s] %3u%%%s", label.c_str(), bar.c_str(), percent,
                 RateText(p, now).c_str());
  }
  std::fflush(options_.out);
  lastDrawMs_ = now;
  barOpen_ = !p.end;
}

void TerminalFormatUi::ShowPassProgress(const vornak::PassProgress& p) {
  const std::uint64_t now = NowMs();
  const int area = (p.write ? 1 : 0) | (p.dataArea ? 2 : 0);
  const bool newArea = area != lastArea_;
  if (newArea) {
    EndProgressLine();
    lastArea_ = area;
    lastPercent_ = 1000;
    areaStartMs_ = now;
    areaStartSector_ = p.sector;
  }
  const bool percentMoved = p.percent != lastPercent_;
  if (!options_.progressBar) {
    // One line per percent, as the dialog's status line reads, and the
    // area's speed after its end.
    if (!percentMoved && !p.end) return;
    lastPercent_ = p.percent;
    std::fprintf(options_.out, "%s\n", vornak::PassStatusText(fatTexts_, p).c_str());
    if (p.end)
      std::fprintf(options_.out, "%s: %s\n", AreaText(p).c_str(), AreaSummary(p, now).c_str());
    std::fflush(options_.out);
    return;
  }
  const std::uint64_t since = now - lastDrawMs_;
  if (!newArea && !p.end && since < kRefreshMs && !(percentMoved && since >= kRedrawMs)) return;
  lastPercent_ = p.percent;
  DrawBar(p, now);
}

void TerminalFormatUi::PumpOneMessage() {
  // Ctrl-C is the Stop button with its question answered Yes.
  if (g_interrupted && running_) {
    running_ = false;
    EndProgressLine();
    std::fprintf(options_.err, "vornak-cli: stopped; writing the system area again\n");
    std::fflush(options_.err);
  }
}

std::uint32_t TerminalFormatUi::GetTickCount() { return static_cast<std::uint32_t>(MonotonicMs()); }

vornak::SurfaceOptions LowPassOptions(bool blockDevice) {
  vornak::SurfaceOptions options;
  options.chunkSectors = kLowChunkSectors;
  options.retrySmaller = blockDevice;
  options.stamped = true;
  options.salt = RandomWord();
  return options;
}

std::uint64_t RandomWord() {
  std::uint64_t v = 0;
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::read(fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
  if (fd >= 0) ::close(fd);
  if (!ok) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    v = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(now.tv_sec) ^
        (static_cast<std::uint64_t>(getpid()) << 40);
  }
  return v;
}

std::string MisplacedLine(const vornak::FormatOutcome& outcome) {
  if (!outcome.verified && outcome.misplacedSectors == 0) return std::string();
  std::string line =
      "sectors that read back another address: " + std::to_string(outcome.misplacedSectors);
  if (outcome.misplacedSectors > 0)
    line += " (the disk answers for some sectors with others: it may hold less than it claims)";
  return line;
}

bool TerminalFormatUi::ListBootFiles(std::vector<std::string>& names) {
  if (options_.sysDir.empty()) return false;
  DIR* d = opendir(options_.sysDir.c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st {};
    const std::string path = options_.sysDir + "/" + name;
    if (name == "." || name == ".." || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
      continue;
    names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return true;
}

bool TerminalFormatUi::CopyBootFile(const std::string& name, const std::string& drive) {
  (void)drive;  // the target is the only drive
  copyFailure_ = "not a file of " + options_.sysDir;
  if (name.empty() || name.find('/') != std::string::npos) return false;
  const std::string source = FindInFolder(options_.sysDir, name);
  if (source.empty()) return false;
  return CopyIntoVolume(options_.target, source, VolumeName(name), copyFailure_);
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string folder = rest.substr(0, colon);
    rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    if (folder.empty() || folder[0] != '/') continue;
    const std::string candidate = folder + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::string();
}

bool CopyIntoVolume(const std::string& target, const std::string& source, const std::string& name,
                    std::string& reason) {
  const std::string mcopy = FindOnPath("mcopy");
  if (mcopy.empty()) {
    reason = "mcopy (mtools) is not on PATH";
    return false;
  }
  // mtools reads parts of its arguments as more than names ("@@N" in the
  // image as an offset, "x:" as a drive, a leading "-" as an option): the
  // image goes as the descriptor of the file opened here, the source as a
  // path that begins with "/" or "./".
  constexpr int kImageFd = 3;
  const int opened = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
  // Above the child's number, so that the dup2 there always takes place.
  const int image = opened < 0 ? -1 : fcntl(opened, F_DUPFD_CLOEXEC, kImageFd + 1);
  const int error = errno;
  if (opened >= 0) ::close(opened);
  if (image < 0) {
    reason = target + ": " + std::strerror(error);
    return false;
  }
  const std::string imageName = "/dev/fd/" + std::to_string(kImageFd);
  const std::string from = source.compare(0, 1, "/") == 0 ? source : "./" + source;
  const std::string destination = "::" + name;
  const char* argv[] = {
      "mcopy", "-n", "-o", "-i", imageName.c_str(), from.c_str(), destination.c_str(), nullptr};
  // The formatter's layouts are not all ones that mtools' geometry checks
  // expect of a disk of that size.
  setenv("MTOOLS_SKIP_CHECK", "1", 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, image, kImageFd);
  // mcopy gets the signal dispositions a shell would give it, not the
  // ignored SIGPIPE of this program.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc =
      posix_spawn(&pid, mcopy.c_str(), &actions, &attributes, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(image);
  if (rc != 0) {
    reason = "cannot run " + mcopy + ": " + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      reason = std::string("lost mcopy: ") + std::strerror(errno);
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  // mcopy has said why on standard error.
  reason = WIFEXITED(status)
               ? "mcopy failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
               : "mcopy was ended by signal " + std::to_string(WTERMSIG(status));
  return false;
}

}  // namespace vornak_cli

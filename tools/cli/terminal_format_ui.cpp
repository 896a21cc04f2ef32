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

#include "formatter_dialog.h"
#include "resource.h"

extern char** environ;

namespace vornak_cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

void OnInterrupt(int) { g_interrupted = 1; }

constexpr int kBarWidth = 40;

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
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
  return shortName ? Upper(name) : name;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
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

std::string FindInFolder(const std::string& folder, const std::string& name) {
  struct stat st {};
  const std::string exact = folder + "/" + name;
  if (stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
  std::string found;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (Upper(e->d_name) != Upper(name)) continue;
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
    : options_(std::move(options)), languageId_(languageId) {}

std::string TerminalFormatUi::ShownCaption(const std::string& caption) const {
  // "Removable Disk(E:)" names the target itself.
  std::string shown = caption;
  const std::string drive = std::string("(") + "E:" + ")";
  const auto at = shown.find(drive);
  if (at != std::string::npos) shown.replace(at, drive.size(), "(" + options_.target + ")");
  return shown;
}

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

int TerminalFormatUi::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  EndProgressLine();
  const std::string body = text ? text : "";
  const std::string title = ShownCaption(caption ? caption : "");
  messages.push_back(body);
  const std::uint32_t buttons = type & 0x0Fu;
  const std::uint32_t icon = type & 0xF0u;

  if (buttons == vornak::dlg::kMbYesNo) {
    std::fprintf(options_.err, "%s\n", title.c_str());
    const bool yes = AskYesNo(body);
    if (StartsWith(title, "Warning - ")) confirmed = yes;
    return yes ? vornak::dlg::kIdYes : vornak::dlg::kIdNo;
  }
  if (buttons == vornak::dlg::kMbOkCancel) {
    // The Windows 98 re-plug request: there is no disk to pull out here.
    std::fprintf(options_.err, "vornak-cli: %s\n", body.c_str());
    return vornak::dlg::kIdCancel;
  }
  if (StartsWith(title, "Format Results - ")) {
    reportShown = true;
    std::fprintf(options_.out, "%s\n\n%s", title.c_str(), ReportToUtf8(body, languageId_).c_str());
    std::fflush(options_.out);
    return vornak::dlg::kIdOk;
  }
  if (icon == vornak::dlg::kMbIconHand) {
    failureShown = true;
    std::fprintf(options_.err, "vornak-cli: %s\n", body.c_str());
  } else {
    // "Ignore!" and the other notes.
    std::fprintf(options_.err, "vornak-cli: %s (%s)\n", body.c_str(), title.c_str());
  }
  std::fflush(options_.err);
  return vornak::dlg::kIdOk;
}

void TerminalFormatUi::SetControlText(int id, const std::string& text) {
  texts_[id] = text;
  if (id == IDC_STATUS && !text.empty()) {
    EndProgressLine();
    std::fprintf(options_.out, "%s\n", text.c_str());
    std::fflush(options_.out);
  }
}

void TerminalFormatUi::EndProgressLine() {
  if (!barOpen_) return;
  std::fprintf(options_.out, "\n");
  std::fflush(options_.out);
  barOpen_ = false;
}

std::string TerminalFormatUi::AreaText(const vornak::PassProgress& progress) const {
  const vornak::FatTexts defaults;
  const std::string& systemWrite =
      dialog_ ? dialog_->texts.MsgSystemAreaWrite : defaults.MsgSystemAreaWrite;
  const std::string& systemRead =
      dialog_ ? dialog_->texts.MsgSystemAreaRead : defaults.MsgSystemAreaRead;
  const std::string& dataWrite =
      dialog_ ? dialog_->texts.MsgDataAreaWrite : defaults.MsgDataAreaWrite;
  const std::string& dataRead = dialog_ ? dialog_->texts.MsgDataAreaRead : defaults.MsgDataAreaRead;
  return progress.dataArea ? (progress.write ? dataWrite : dataRead)
                           : (progress.write ? systemWrite : systemRead);
}

void TerminalFormatUi::SetPassStatus(int id, const std::string& text,
                                     const vornak::PassProgress& p) {
  texts_[id] = text;
  const int area = (p.write ? 1 : 0) | (p.dataArea ? 2 : 0);
  const bool newArea = area != lastArea_;
  if (!newArea && p.percent == lastPercent_ && !p.end) return;
  if (newArea) EndProgressLine();
  lastArea_ = area;
  lastPercent_ = p.percent;
  if (!options_.progressBar) {
    std::fprintf(options_.out, "%s\n", text.c_str());
    std::fflush(options_.out);
    return;
  }
  const std::uint32_t percent = std::min<std::uint32_t>(p.percent, 100);
  const int filled = static_cast<int>(percent * kBarWidth / 100);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  const std::string label = AreaText(p);
  if (p.end)
    std::fprintf(options_.out, "\r%-18s [%s] End         \n", label.c_str(), bar.c_str());
  else
    std::fprintf(options_.out, "\r%-18s [%s] %3u%% %9u", label.c_str(), bar.c_str(), percent,
                 p.sector);
  std::fflush(options_.out);
  barOpen_ = !p.end;
}

void TerminalFormatUi::ComboReset(int id) {
  if (id != IDC_DRIVE) return;
  combo_.clear();
  comboSel_ = -1;
}

void TerminalFormatUi::ComboAdd(int id, const std::string& text) {
  if (id == IDC_DRIVE) combo_.push_back(text);
}

void TerminalFormatUi::ComboSetSel(int id, int index) {
  if (id != IDC_DRIVE) return;
  comboSel_ = index >= 0 && static_cast<std::size_t>(index) < combo_.size() ? index : -1;
}

int TerminalFormatUi::ComboGetSel(int id) { return id == IDC_DRIVE ? comboSel_ : -1; }

void TerminalFormatUi::PumpOneMessage() {
  // Ctrl-C is the Stop button with its question answered Yes.
  if (g_interrupted && dialog_ && dialog_->runningFlag) {
    dialog_->runningFlag = 0;
    stopped = true;
    EndProgressLine();
    std::fprintf(options_.err, "vornak-cli: stopped; writing the system area again\n");
    std::fflush(options_.err);
  }
}

std::uint32_t TerminalFormatUi::GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

bool TerminalFormatUi::CanOpenForReading(const std::string& path) {
  const std::string local = SysPath(path);
  return !local.empty() && access(local.c_str(), R_OK) == 0;
}

std::string TerminalFormatUi::SysPath(const std::string& dialogPath) const {
  if (options_.sysDir.empty() || !StartsWith(dialogPath, kSysPrefix)) return std::string();
  const std::string name = dialogPath.substr(std::strlen(kSysPrefix));
  if (name.empty() || name.find('\\') != std::string::npos) return std::string();
  // Windows finds a file whatever the case of its name.
  return FindInFolder(options_.sysDir, name);
}

bool TerminalFormatUi::CopyFileA(const std::string& from, const std::string& to,
                                 bool failIfExists) {
  (void)failIfExists;
  const std::string source = SysPath(from);
  if (source.empty() || !StartsWith(to, "E:\\")) return false;
  const std::string name = to.substr(3);
  if (name.empty() || name.find('\\') != std::string::npos) return false;
  struct stat st {};
  if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return CopyIntoVolume(options_.target, source, VolumeName(name));
}

vornak::FindHandle TerminalFormatUi::FindFirstFileA(const std::string& pattern,
                                                    vornak::FindEntry& entry) {
  const std::string all = std::string(kSysPrefix) + "*.*";
  if (pattern != all || options_.sysDir.empty()) return 0;
  DIR* d = opendir(options_.sysDir.c_str());
  if (!d) return 0;
  std::vector<vornak::FindEntry> entries;
  while (dirent* e = readdir(d)) {
    vornak::FindEntry found;
    found.name = e->d_name;
    struct stat st {};
    const std::string path = options_.sysDir + "/" + found.name;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      found.attributes = vornak::dlg::kFileAttributeDirectory;
    entries.push_back(found);
  }
  closedir(d);
  if (entries.empty()) return 0;
  std::sort(entries.begin(), entries.end(),
            [](const vornak::FindEntry& a, const vornak::FindEntry& b) { return a.name < b.name; });
  entry = entries.front();
  entries.erase(entries.begin());
  const vornak::FindHandle h = nextSearch_++;
  searches_[h] = std::move(entries);
  return h;
}

bool TerminalFormatUi::FindNextFileA(vornak::FindHandle search, vornak::FindEntry& entry) {
  auto it = searches_.find(search);
  if (it == searches_.end() || it->second.empty()) return false;
  entry = it->second.front();
  it->second.erase(it->second.begin());
  return true;
}

void TerminalFormatUi::FindClose(vornak::FindHandle search) { searches_.erase(search); }

std::uint32_t TerminalFormatUi::GetModuleFileNameA(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  std::strncpy(buffer, kProgramPath, size - 1);
  buffer[size - 1] = '\0';
  return static_cast<std::uint32_t>(std::strlen(buffer));
}

std::uint32_t TerminalFormatUi::GetPrivateProfileStringA(const char*, const char*,
                                                         const char* defaultText, char* out,
                                                         std::uint32_t size, const char*) {
  if (out == nullptr || size == 0) return 0;
  std::strncpy(out, defaultText ? defaultText : "", size - 1);
  out[size - 1] = '\0';
  return static_cast<std::uint32_t>(std::strlen(out));
}

bool CopyIntoVolume(const std::string& target, const std::string& source, const std::string& name) {
  const std::string destination = "::" + name;
  const char* argv[] = {
      "mcopy", "-n", "-o", "-i", target.c_str(), source.c_str(), destination.c_str(), nullptr};
  // The formatter's layouts are not all ones that mtools' geometry checks
  // expect of a disk of that size.
  setenv("MTOOLS_SKIP_CHECK", "1", 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
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
      posix_spawnp(&pid, "mcopy", &actions, &attributes, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vornak_cli

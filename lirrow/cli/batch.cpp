// lirrow-cli convert over many recordings and folders.
#include "batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "duration.h"
#include "lirrow_cli.h"
#include "pipeline.h"
#include "recording.h"
#include "utf8.h"

namespace lirrow_cli {

namespace {

// The name that the batch's own staging folders start with (then the
// batch's pid); the walk passes over them.
const char kStagePrefix[] = ".lirrow-cli-";

enum class State { kPending, kConverted, kSkipped, kFailed };

// One file of the batch and what became of it.
struct Item {
  std::string path;     // as given, or found in a folder given
  std::string outBase;  // the outputs are outBase + ".wav" (and ".mp3")
  bool recording = false;
  struct stat source {};
  State state = State::kPending;
  std::string reason;
  double seconds = -1.0;  // -1: not known
  std::vector<std::string> outputs;
};

// A conversion that runs in a child process.
struct Job {
  pid_t pid = -1;
  std::size_t item = 0;
  std::string stage;  // the folder beside the outputs where they are made
  std::FILE* messages = nullptr;
};

struct Batch {
  Batch(ConvertOptions& options, CliStreams& streams) : o(options), s(streams) {}
  ConvertOptions& o;
  CliStreams& s;
  std::vector<Item> items;
  bool haveSqenc = false;
  WineLoader wine;
  long started = 0;
  std::size_t done = 0, total = 0, failed = 0;
  bool datesWarned = false;
};

std::string WithoutExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// `path` (`relative` to the folder given, or its own name) as an item,
// with its outputs beside it or mirrored under -o.
void AddFile(Batch& b, const std::string& path, const std::string& relative,
             const struct stat& info) {
  Item item;
  item.path = path;
  item.source = info;
  item.recording = S_ISREG(info.st_mode) && HasRecordingName(path);
  item.outBase = b.o.outDir.empty() ? Bytes(lirrow::BasePathOf(Wide(path)))
                                    : b.o.outDir + "/" + WithoutExtension(relative);
  if (!item.recording) {
    item.state = State::kSkipped;
    item.reason = S_ISREG(info.st_mode) ? "not a recording" : "not a regular file";
  }
  b.items.push_back(item);
}

void Walk(Batch& b, const std::string& folder, const std::string& relative) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && !StartsWith(name, kStagePrefix)) names.push_back(name);
    }
    closedir(d);
  } else {
    Item item;
    item.path = folder;
    item.state = State::kFailed;
    item.reason = std::strerror(errno);
    b.items.push_back(item);
    return;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) continue;  // a dangling link, or gone meanwhile
    if (S_ISDIR(info.st_mode)) {
      if (b.o.recursive) Walk(b, path, relative + name + "/");
      continue;
    }
    AddFile(b, path, relative + name, info);
  }
}

// The outputs beside the batch's recordings are no "other files": they are
// not listed.
void DropOutputs(Batch& b) {
  std::set<std::string> outputs;
  for (const Item& item : b.items)
    if (item.recording) outputs.insert({item.outBase + ".wav", item.outBase + ".mp3"});
  b.items.erase(std::remove_if(b.items.begin(), b.items.end(),
                               [&outputs](const Item& item) {
                                 return !item.recording && outputs.count(item.path) != 0;
                               }),
                b.items.end());
}

void Collect(Batch& b) {
  for (const std::string& path : b.o.paths) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
      Item item;
      item.path = path;
      item.state = State::kFailed;
      item.reason = std::strerror(errno);
      b.items.push_back(item);
    } else if (S_ISDIR(info.st_mode)) {
      Walk(b, path, "");
    } else {
      AddFile(b, path, NameOf(path), info);
    }
  }
}

bool NotOlder(const struct stat& output, const struct stat& source) {
  return output.st_mtim.tv_sec > source.st_mtim.tv_sec ||
         (output.st_mtim.tv_sec == source.st_mtim.tv_sec &&
          output.st_mtim.tv_nsec >= source.st_mtim.tv_nsec);
}

// True when the outputs may stay: any one exists (--skip-existing), or all
// are complete and not older than the recording (the reason then says so).
bool LeaveAlone(const Batch& b, Item& item) {
  const std::string wav = item.outBase + ".wav", mp3 = item.outBase + ".mp3";
  struct stat w {
  }, m{};
  const bool haveWav = stat(wav.c_str(), &w) == 0, haveMp3 = stat(mp3.c_str(), &m) == 0;
  if (b.o.skipExisting && (haveWav || (b.o.mp3 && haveMp3))) {
    item.reason = "an output exists";
    return true;
  }
  if (b.o.force || !haveWav || !S_ISREG(w.st_mode) || !NotOlder(w, item.source) ||
      !WavProblem(wav).empty())
    return false;
  const double wavSeconds = lirrow::MeasureDuration(Wide(wav));
  if (b.o.mp3) {
    if (!haveMp3 || !S_ISREG(m.st_mode) || !NotOlder(m, item.source)) return false;
    const double mp3Seconds = lirrow::MeasureDuration(Wide(mp3));
    if (mp3Seconds <= 0.0 || !lirrow::Mp3LengthAgrees(mp3Seconds, wavSeconds)) return false;
  }
  item.reason = "up to date";
  item.seconds = wavSeconds;
  item.outputs = {wav};
  if (b.o.mp3) item.outputs.push_back(mp3);
  return true;
}

// A recording named twice (itself and its folder) is converted once; two
// recordings with one base name (memo.rec, memo.ovk) would write the same
// outputs: the later ones fail. Then the outputs that stay, and the
// names that cannot be written.
void Sort(Batch& b) {
  std::set<std::string> bases;
  std::set<std::pair<dev_t, ino_t>> files;
  for (Item& item : b.items) {
    if (item.state != State::kPending) continue;
    if (!files.insert({item.source.st_dev, item.source.st_ino}).second) {
      item.state = State::kSkipped;
      item.reason = "named before";
    } else if (!bases.insert(item.outBase).second) {
      item.state = State::kFailed;
      item.reason = "its outputs are those of another recording of the batch";
    } else if (LeaveAlone(b, item)) {
      item.state = State::kSkipped;
    } else {
      std::vector<std::string> outputs = {item.outBase + ".wav"};
      if (b.o.mp3) outputs.push_back(item.outBase + ".mp3");
      for (const std::string& out : outputs) {
        std::string problem;
        if (item.state == State::kPending && !ReplaceableOutput(out, item.source, problem)) {
          item.state = State::kFailed;
          item.reason = "will not write " + out + ": " + problem;
        }
      }
    }
  }
}

// The batch's pid in the name of a staging folder (.lirrow-cli-PID-XXXXXX).
long OwnerFromName(const std::string&, const std::string& name) {
  return std::strtol(name.c_str() + std::strlen(kStagePrefix), nullptr, 10);
}

// Creates the folders of the outputs under -o, parents first, and clears
// the output folders of what killed batches left.
void Prepare(const Batch& b) {
  if (!b.o.outDir.empty()) mkdir(b.o.outDir.c_str(), 0777);
  std::set<std::string> folders;
  for (const Item& item : b.items) {
    if (item.state != State::kPending) continue;
    const std::string folder = DirectoryOf(item.outBase);
    if (!folders.insert(folder).second) continue;
    for (std::size_t at = b.o.outDir.size(); !b.o.outDir.empty() && at != std::string::npos;
         at = folder.find('/', at + 1))
      mkdir(folder.substr(0, at).c_str(), 0777);
    mkdir(folder.c_str(), 0777);
    RemoveFoldersOfEndedRuns(folder, kStagePrefix, OwnerFromName);
  }
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (const unsigned char c : lirrow::ToUtf8(Wide(bytes))) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* StateName(State state) {
  switch (state) {
    case State::kConverted: return "converted";
    case State::kSkipped: return "skipped";
    case State::kFailed: return "failed";
    default: return "pending";
  }
}

void ShowProgress(const Batch& b) {
  if (!b.s.errIsTerminal || b.o.json) return;
  const long elapsed = (NowMs() - b.started) / 1000;
  const long left =
      b.done ? elapsed * static_cast<long>(b.total - b.done) / static_cast<long>(b.done) : 0;
  char line[160];
  std::snprintf(line, sizeof line,
                "\r%zu/%zu done, %zu failed, elapsed %ld:%02ld, left %ld:%02ld\x1b[K", b.done,
                b.total, b.failed, elapsed / 60, elapsed % 60, left / 60, left % 60);
  Print(b.s.err, line);
}

// The line (or JSON object) of an item that ended.
void Report(Batch& b, const Item& item) {
  if (b.s.errIsTerminal && !b.o.json) Print(b.s.err, "\r\x1b[K");
  if (b.o.json) {
    const int kind = item.recording ? lirrow::ClassifyRecording(Wide(item.path)) : -1;
    std::string outputs;
    for (const std::string& out : item.outputs)
      outputs += (outputs.empty() ? "" : ",") + JsonString(out);
    Print(b.s.out,
          "{\"path\":" + JsonString(item.path) +
              ",\"kind\":" + (kind < 0 ? "null" : std::to_string(kind)) + ",\"outputs\":[" +
              outputs + "],\"seconds\":" + (item.seconds < 0 ? "null" : Seconds(item.seconds)) +
              ",\"status\":\"" + StateName(item.state) +
              "\",\"reason\":" + (item.reason.empty() ? "null" : JsonString(item.reason)) + "}\n");
  } else {
    Print(b.s.out, ShownName(item.path, b.s.outIsTerminal) + "\t" +
                       (item.seconds < 0 ? "-" : Seconds(item.seconds)) + "\t" +
                       StateName(item.state) + (item.reason.empty() ? "" : ": " + item.reason) +
                       "\n");
  }
  if (item.state == State::kFailed) ++b.failed;
  ++b.done;
  ShowProgress(b);
}

// The child's side: converts the link to the recording in the stage folder
// with the messages kept in `messages`; never returns.
[[noreturn]] void RunChild(Batch& b, const std::string& link, std::FILE* messages) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // the batch's end ends its conversions
  std::FILE* quiet = std::fopen("/dev/null", "w");
  if (!quiet) quiet = messages;
  CliStreams streams{quiet, messages, false, false, quiet};
  ConvertOptions one = b.o;
  one.file = link;
  const int code = ConvertRecordingFile(one, b.haveSqenc, b.wine, streams);
  std::fflush(messages);
  _exit(CaughtSignal() ? 128 + CaughtSignal() : code);
}

bool Start(Batch& b, std::size_t index, Job& job) {
  Item& item = b.items[index];
  std::string stage =
      DirectoryOf(item.outBase) + "/" + kStagePrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(stage.data())) {
    item.state = State::kFailed;
    item.reason =
        "cannot create a folder in " + DirectoryOf(item.outBase) + ": " + std::strerror(errno);
    return false;
  }
  const std::string link = stage + "/" + NameOf(item.path);
  job.messages = std::tmpfile();
  if (symlink(Absolute(item.path).c_str(), link.c_str()) != 0 || !job.messages) {
    item.state = State::kFailed;
    item.reason = std::string("cannot prepare the conversion: ") + std::strerror(errno);
    if (job.messages) std::fclose(job.messages);
    RemoveTree(stage);
    return false;
  }
  std::fflush(nullptr);
  job.pid = fork();
  if (job.pid == 0) RunChild(b, link, job.messages);
  job.item = index;
  job.stage = stage;
  if (job.pid > 0) return true;
  item.state = State::kFailed;
  item.reason = std::string("cannot start the conversion: ") + std::strerror(errno);
  std::fclose(job.messages);
  RemoveTree(stage);
  return false;
}

// The last message the conversion printed, without the program's name.
std::string LastMessage(std::FILE* messages) {
  std::string text, line;
  std::rewind(messages);
  for (int c; (c = std::fgetc(messages)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
    } else if (!line.empty()) {
      text = line;
      line.clear();
    }
  }
  if (!line.empty()) text = line;
  return StartsWith(text, "lirrow-cli: ") ? text.substr(12) : text;
}

// Moves the staged outputs of a conversion that succeeded into place, with
// the recording's date (and, asked for, the tag).
void Commit(Batch& b, Job& job, Item& item) {
  const std::string staged = job.stage + "/" + WithoutExtension(NameOf(item.path));
  const timespec times[2] = {item.source.st_atim, item.source.st_mtim};
  for (const char* ext : {".wav", ".mp3"}) {
    if (std::strcmp(ext, ".mp3") == 0 && !b.o.mp3) continue;
    const std::string from = staged + ext, to = item.outBase + ext;
    if (b.o.tag && std::strcmp(ext, ".mp3") == 0 &&
        !WriteId3Tag(from, item.source.st_mtim.tv_sec,
                     lirrow::ToUtf8(Wide(WithoutExtension(NameOf(item.path)))))) {
      item.state = State::kFailed;
      item.reason = "cannot tag " + to + ": " + std::strerror(errno);
      return;
    }
    if (utimensat(AT_FDCWD, from.c_str(), times, 0) != 0 && !b.datesWarned) {
      b.datesWarned = true;
      Print(b.s.err, "lirrow-cli: warning: the outputs in " + DirectoryOf(to) +
                         " cannot take their recordings' dates: " + std::strerror(errno) + "\n");
    }
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      item.state = State::kFailed;
      item.reason = "cannot write " + to + ": " + std::strerror(errno);
      return;
    }
    item.outputs.push_back(to);
  }
  item.state = State::kConverted;
  item.seconds = lirrow::MeasureDuration(Wide(item.outBase + ".wav"));
}

void Finish(Batch& b, Job& job, int status) {
  Item& item = b.items[job.item];
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    Commit(b, job, item);
  } else {
    item.state = State::kFailed;
    item.reason = LastMessage(job.messages);
    if (WIFSIGNALED(status)) item.reason = "ended by " + SignalName(WTERMSIG(status));
    if (item.reason.empty()) item.reason = "the conversion failed";
  }
  std::fclose(job.messages);
  RemoveTree(job.stage);
  Report(b, item);
}

// Runs the pending items, `jobs` at once, until all ended or a signal came.
void Run(Batch& b, std::size_t jobs) {
  std::vector<Job> running;
  std::size_t next = 0;
  bool ending = false;
  ShowProgress(b);
  while (true) {
    while (!CaughtSignal() && running.size() < jobs && next < b.items.size()) {
      const std::size_t index = next++;
      if (b.items[index].state != State::kPending) continue;
      Job job;
      if (Start(b, index, job))
        running.push_back(job);
      else
        Report(b, b.items[index]);
    }
    if (running.empty()) return;
    if (CaughtSignal() && !ending) {
      ending = true;  // the conversions end their tools and remove their files
      for (const Job& job : running) kill(job.pid, SIGTERM);
    }
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      return;
    }
    const auto job =
        std::find_if(running.begin(), running.end(), [pid](const Job& j) { return j.pid == pid; });
    if (job == running.end()) continue;
    if (ending && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
      std::fclose(job->messages);
      RemoveTree(job->stage);
    } else {
      Finish(b, *job, status);
    }
    running.erase(job);
  }
}

}  // namespace

int ConvertBatch(ConvertOptions& o, CliStreams& s) {
  Batch b(o, s);
  if (const int code = FindConvertTools(o, s, b.haveSqenc, b.wine); code >= 0) return code;
  WarnWritableByOthers(o, s);
  CatchSignals();
  b.started = NowMs();
  Collect(b);
  DropOutputs(b);
  Prepare(b);
  Sort(b);
  b.total = b.items.size();
  for (const Item& item : b.items)
    if (item.state != State::kPending) Report(b, item);
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  Run(b, static_cast<std::size_t>(o.jobs > 0 ? o.jobs : std::max(1L, processors)));
  if (const int signal = CaughtSignal()) EndBySignal(signal);
  std::size_t converted = 0, skipped = 0;
  for (const Item& item : b.items) {
    converted += item.state == State::kConverted;
    skipped += item.state == State::kSkipped;
  }
  if (s.errIsTerminal && !o.json) Print(s.err, "\r\x1b[K");
  Print(o.json ? s.err : s.out, std::to_string(converted) + " converted, " +
                                    std::to_string(skipped) + " skipped, " +
                                    std::to_string(b.failed) + " failed\n");
  return b.failed ? kExitFailed : kExitOk;
}

}  // namespace lirrow_cli

// vornak-cli: the formatter's command line on Linux.
//
//   vornak-cli list [--all]
//   vornak-cli format TARGET [--label L] [--mode quick|full|low]
//                            [--bootable --sys DIR] [--lang 409|804|404]
//                            [--size BYTES] [--no-probe] [--yes]
//   vornak-cli probe TARGET [--destructive] [--seed N] [--yes]
//   vornak-cli probe --restore FILE
//
// Exit codes: 0 success (a genuine disk), 1 the run failed (with its
// message), 2 bad usage, 3 a counterfeit disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "block_device.h"
#include "posix_disk_platform.h"

namespace vornak_cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCounterfeit = 3;

enum class FormatMode { Quick, Full, Low };

struct FormatOptions {
  std::string target;
  bool labelGiven = false;
  std::string label;
  FormatMode mode = FormatMode::Quick;
  bool bootable = false;
  std::string sysDir;
  std::uint16_t languageId = 0x0409;
  bool sizeGiven = false;
  std::uint64_t size = 0;
  bool noProbe = false;
  bool yes = false;
  std::string action = "format";  // what a refusal says it refuses
};

struct ProbeCommandOptions {
  std::string target;
  std::string restoreFile;  // --restore FILE instead of a probe
  bool destructive = false;
  bool seedGiven = false;
  std::uint64_t seed = 0;
  bool yes = false;
};

// A byte count: decimal digits with an optional K, M or G (binary multiples).
bool ParseByteCount(const std::string& text, std::uint64_t& bytes);

// Parses the words after "format". False with `error` set on bad usage;
// `help` is set (and true returned) for --help.
bool ParseFormatArguments(const std::vector<std::string>& args, FormatOptions& options, bool& help,
                          std::string& error);

// Parses the words after "probe", as ParseFormatArguments does.
bool ParseProbeArguments(const std::vector<std::string>& args, ProbeCommandOptions& options,
                         bool& help, std::string& error);

struct Console {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool outIsTerminal = false;
};

// What may be formatted, found before anything is written.
struct TargetCheck {
  bool ok = false;
  int exitCode = kExitFailed;  // when not ok
  std::string message;         // when not ok
  bool blockDevice = false;
  bool removable = false;  // image files count as removable
  std::string note;        // a remark shown before the question
  // The file the checks were made on; every later open must reach it.
  TargetIdentity identity;
  // What --size did: made a new file, or extended one from `oldSize`.
  bool created = false;
  bool extended = false;
  std::uint64_t oldSize = 0;
  std::uint64_t size = 0;  // the target's size in bytes (--size N on a device: N)
  bool limited = false;    // --size N took only the first N bytes of a device
};

// Creates or extends an image file for --size (on a block device --size
// takes its first bytes only), then decides whether the target may be
// written: a block device must not be in use and, unless `yes`, must be
// flagged removable; an image file must not be attached to a loop device.
TargetCheck CheckTarget(const SystemPaths& paths, const FormatOptions& options);

int RunFormatCommand(const FormatOptions& options, const SystemPaths& paths, Console& console);
// Probes the target's real capacity (exit 0 genuine, 3 counterfeit), or
// writes back what a killed probe saved (--restore).
int RunProbeCommand(const ProbeCommandOptions& options, const SystemPaths& paths, Console& console);
int RunListCommand(const SystemPaths& paths, bool all, Console& console);

// The whole program: argv without the program name.
int VornakCliMain(const std::vector<std::string>& args, const SystemPaths& paths, Console& console);

}  // namespace vornak_cli

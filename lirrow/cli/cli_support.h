// What lirrow-cli's parts share: printing, names as bytes, file checks, the
// tools' search, child-process environments and the signals that end a run.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lirrow_cli {

// A path given as bytes, as the converter's wide path, and back; names that
// are not UTF-8 survive the round trip (lirrow::NameFromBytes).
std::wstring Wide(const std::string& bytes);
std::string Bytes(const std::wstring& path);

void Print(std::FILE* f, const std::string& text);
std::string DirectoryOf(const std::string& path);
std::string NameOf(const std::string& path);
bool StartsWith(const std::string& s, const std::string& prefix);
bool IsOption(const std::string& word);
// `name` as it may be printed: as it is, unless it holds a control character
// (a line break, an escape sequence) or, on a terminal, a character the
// shell would read otherwise; then quoted as `ls --quoting-style=shell-escape`
// does ('a'$'\n''b').
std::string ShownName(const std::string& name, bool terminal);
// A name set off in quotes in a message.
std::string Quoted(const std::string& path);
// Seconds with three decimals.
std::string Seconds(double seconds);
std::string SignalName(int signal);
std::uint32_t Le32(const unsigned char* p);

// A file that the commands read: it must exist, be a regular file (a FIFO
// or a device would block or never end) and be readable. False with the
// reason in `problem`.
bool RegularInput(const std::string& path, std::string& problem, struct stat* info = nullptr);
// An output name that may be written: in a folder that takes new files, and
// absent or a writable regular file that is neither immutable nor `source`
// under another name.
bool ReplaceableOutput(const std::string& path, const struct stat& source, std::string& problem);
// True for a name ending in .ovk, .rcd or .rec (any letter case).
bool HasRecordingName(const std::string& path);

// `path` when it names an existing entry; otherwise the entry of its folder
// whose name matches the last component in any letter case (the tools are
// named as on Windows, where names are not case-sensitive); `path` unchanged
// when there is none.
std::string ResolveIgnoringCase(const std::string& path);
// The tool `name` of folder `dir` in any letter case, when it is a readable
// regular file; empty otherwise.
std::string ToolIn(const std::string& dir, const char* name);
// The executable `name` from PATH (or `name` itself when it holds a '/');
// empty when there is none. Empty and relative entries of PATH are passed
// over.
std::string FindOnPath(const std::string& name);
// The folder of the running program.
std::string ProgramFolder();
std::string Absolute(const std::string& path);
// Removes the private temporary folder and what a conversion left in it
// (links are removed, never followed).
void RemoveTree(const std::string& directory);
// Removes the folders directly in `root` whose names start with `prefix`,
// that this user owns and whose run ended without removing them (killed):
// `ownerOf(folder, name)` gives the pid of the run that made one; a folder
// whose owner is unknown (0) or still running is left alone.
void RemoveFoldersOfEndedRuns(const std::string& root, const std::string& prefix,
                              long (*ownerOf)(const std::string& folder, const std::string& name));

// This process's environment followed by `extra` (later entries win).
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra);
// Pointers to the strings' characters and a final null, as exec wants them;
// valid while `items` lives unchanged.
std::vector<char*> NullTerminated(std::vector<std::string>& items);
// True when `program --version` starts and exits with 0.
bool Starts(const std::string& program, const std::vector<std::string>& extraEnv);

void Sleep(long ms);
long NowMs();  // a monotonic clock

// The three signals that end a run (SIGINT, SIGTERM, SIGHUP): noted, and
// acted on where the program waits (the tool is ended, the temporary files
// removed).
void CatchSignals();
// The signal caught since the program started, or 0.
int CaughtSignal();
// Ends the program by the signal it caught, so that a calling shell sees it.
[[noreturn]] void EndBySignal(int signal);

}  // namespace lirrow_cli

// The Windows tools under Wine: which programs are Windows programs, which
// Wine loader runs them, and the batch file that runs one tool with its
// whole exit code recorded.
#pragma once

#include <string>
#include <vector>

namespace lirrow_cli {

// The machine field of a Windows (PE) program file: 0x14C for 32-bit x86,
// 0x8664 for x86-64; 0 when the file is not a PE program.
unsigned PeMachine(const std::string& path);

// How the programs of the Windows tools are started: the Wine loader and
// what it can run.
struct WineLoader {
  std::string program;                // empty: no Wine
  std::vector<std::string> extraEnv;  // NAME=VALUE for the loader
  bool runs32 = false, runs64 = false;
};
// $WINE when set; else `wine` from PATH when it starts; else the 64-bit
// loader (`wine64` from PATH or /usr/lib/wine/wine64) when that is all that
// works.
WineLoader FindWine();

// One tool run as lirrow-cli starts it.
struct ToolArguments {
  std::string name;                  // the tool as the pipeline names it
  std::vector<std::string> options;  // before the paths
  std::vector<std::string> args;     // the input and the output
  bool encoder = false;
};

// Writes the batch file that runs `program` (a Windows tool of `toolsDir`)
// with `run`'s arguments under cmd in the private folder `privateDir` (which
// ends with '/'), and gives the loader's command in `argv`. False when a
// name cannot be handed to cmd.
bool PrepareWineRun(const WineLoader& wine, const std::string& privateDir,
                    const std::string& toolsDir, const std::string& program,
                    const ToolArguments& run, std::vector<std::string>& argv);
// The tool's exit code as the batch file recorded it; false when it did not.
bool ReadWineExitCode(const std::string& privateDir, long& code);

}  // namespace lirrow_cli

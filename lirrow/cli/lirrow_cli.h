// lirrow-cli: the recording converter's command line on Linux.
//
//   lirrow-cli classify FILE
//   lirrow-cli extract FILE OUT
//   lirrow-cli duration FILE
//   lirrow-cli convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]
//   lirrow-cli convert PATH... [-r] [-o DIR] [-j N] [--force|--skip-existing] [--json] [--tag]
//
// `convert` runs the converter's own pipeline with the decoder and encoder
// programs of DIR (default: $LIRROW_TOOLS, else the folder of lirrow-cli;
// Windows programs there run through Wine), prints the progress texts where
// the program shows its windows, and the message texts on failure. Outputs
// are written under temporary names beside their final ones and renamed at
// the end, so a failure keeps the previous file. Exit codes: 0 success, 1
// failure (with its message), 2 bad usage; SIGINT, SIGTERM and SIGHUP end the
// tool that runs, remove the temporary files and end the program by the same
// signal.
//
// The parts: cli_args (command lines), cli_support (names, files, signals),
// posix_pipeline_platform (the pipeline's system side), wine_runner (the
// Windows tools), batch (many recordings at once, and the MP3's tag) and
// lirrow_cli.cpp (the commands).
#pragma once

#include <string>
#include <vector>

#include "cli_support.h"
#include "posix_pipeline_platform.h"
#include "wine_runner.h"

namespace lirrow_cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct ConvertOptions;

int LirrowCliMain(const std::vector<std::string>& args, CliStreams& streams);

// convert's steps, which a batch takes one by one. The tools: returns -1
// when the decoders (and the encoder asked for) can run; otherwise the exit
// code, with the reason printed.
int FindConvertTools(ConvertOptions& o, CliStreams& s, bool& haveSqenc, WineLoader& wine);
void WarnWritableByOthers(const ConvertOptions& o, CliStreams& s);
// Converts `o.file` beside it; the exit code. Returns (kExitFailed) when a
// signal was caught, after removing the temporary files, without ending the
// program.
int ConvertRecordingFile(const ConvertOptions& o, bool haveSqenc, const WineLoader& wine,
                         CliStreams& s);

}  // namespace lirrow_cli

// lirrow-cli convert over many recordings: the recordings of the PATHs
// given (folders walked, -r into subfolders), outputs that are up to date
// left alone, N conversions at once, each in a child process with its own
// private temporary folder, and each recording's end reported as it comes.
#pragma once

#include <ctime>
#include <string>

#include "cli_args.h"
#include "posix_pipeline_platform.h"

namespace lirrow_cli {

// Converts every recording of `o.paths`; exit 0 when none failed, 1 when
// one did. A signal ends the running conversions, removes what they left
// and ends the program by the same signal; finished outputs stay.
int ConvertBatch(ConvertOptions& o, CliStreams& s);

// Writes `mp3` again with an ID3v2.3 tag in front: TYER, TDAT (DDMM) and
// TIME (HHMM) of `when` in local time, and `title` as TIT2. False with errno.
bool WriteId3Tag(const std::string& mp3, std::time_t when, const std::string& title);

}  // namespace lirrow_cli

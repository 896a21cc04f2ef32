// lirrow-cli's command lines: the help texts and the options of convert.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace lirrow_cli {

extern const char kMainHelp[];
extern const char kClassifyHelp[];
extern const char kExtractHelp[];
extern const char kDurationHelp[];
extern const char kConvertHelp[];

// What `lirrow-cli convert` was asked to do.
struct ConvertOptions {
  std::string file;                // the recording of one conversion
  std::vector<std::string> paths;  // every PATH given (recordings and folders)
  std::string tools;               // empty unless --tools was given
  std::string encoder = "sqenc";
  std::string outDir;  // -o: where the outputs go, mirroring the folders given
  int jobs = 0;        // -j: conversions at once (0: the number of processors)
  bool mp3 = false;
  bool toolsGiven = false;
  bool recursive = false;     // -r: the recordings of subfolders too
  bool force = false;         // convert even when the outputs are up to date
  bool skipExisting = false;  // leave every existing output alone
  bool json = false;          // one JSON object per recording
  bool tag = false;           // an ID3v2.3 tag in the MP3 (with --encoder lame)
  bool batchOptions = false;  // an option only a batch takes was given
  // A batch: several PATHs, or a batch option (a folder is seen later).
  bool Batch() const { return paths.size() > 1 || batchOptions; }
};

// True when `args` asks for a command's help alone ("--help" or "-h").
bool AsksForHelp(const std::vector<std::string>& args);

// The operands of a command that takes no options: `args` without the "--"
// that ends the options. False when an option stands before it.
bool Operands(const std::vector<std::string>& args, std::vector<std::string>& operands);

// Reads convert's arguments ("--" ends the options). Returns -1 when they are sound; otherwise the
// exit code, after printing the help (exit 0) or what is wrong (exit 2) to
// `out` or `err`.
int ParseConvertArgs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                     ConvertOptions& options);

}  // namespace lirrow_cli

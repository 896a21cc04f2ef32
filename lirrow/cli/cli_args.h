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
  std::string file;
  std::string tools;  // empty unless --tools was given
  std::string encoder = "sqenc";
  bool mp3 = false;
  bool toolsGiven = false;
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

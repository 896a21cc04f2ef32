#include "cli_args.h"

#include <cstdlib>

#include "cli_support.h"

namespace lirrow_cli {

const char kMainHelp[] =
    "Usage: lirrow-cli COMMAND [OPTIONS]\n"
    "Converts the player's voice recordings (.ovk, .rcd, .rec).\n"
    "\n"
    "Commands:\n"
    "  classify FILE                     the kind of a recording by its first byte\n"
    "  extract FILE OUT                  write the decoders' bitstream of a framed recording\n"
    "  duration FILE                     the length of a WAV or MP3 file\n"
    "  convert PATH... [--mp3] [-r] [-o DIR] [-j N] [--tools DIR] ...\n"
    "                                    convert recordings (and folders of them) to WAV (and "
    "MP3)\n"
    "  version                           print the program's version (also --version)\n"
    "\n"
    "'lirrow-cli COMMAND --help' describes a command.\n"
    "Exit codes: 0 success, 1 failure (a file that cannot be used, an unsupported\n"
    "recording, a failed tool), 2 bad usage.\n";

const char kClassifyHelp[] =
    "Usage: lirrow-cli classify FILE\n"
    "Prints the kind of the recording (0 to 6), chosen by its first byte, and\n"
    "what it means: 0-2 read whole by Vrn_dec.exe, 3-4 framed in 10-byte frames\n"
    "(QL8_Dec.exe), 5 framed in 22-byte frames (QL4_Dec.exe), 6 unsupported.\n"
    "Exits with 1 for kind 6, which convert refuses.\n";

const char kExtractHelp[] =
    "Usage: lirrow-cli extract FILE OUT\n"
    "Writes the headerless bitstream of the framed recording FILE (kinds 3 to 5)\n"
    "to OUT, as the converter hands it to the frame decoders. OUT is written\n"
    "under a temporary name and replaces an existing file only when complete;\n"
    "it may not be FILE itself.\n";

const char kDurationHelp[] =
    "Usage: lirrow-cli duration FILE\n"
    "Prints the length of FILE in seconds and as H:MM:SS: a name ending in \"wav\"\n"
    "is measured by its size (16,000 bytes a second, the decoders' rate), anything\n"
    "else by walking its MPEG audio frames. A WAV file of another data rate, or a\n"
    "file in which no length can be found, is reported and exits with 1.\n";

const char kConvertHelp[] =
    "Usage: lirrow-cli convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]\n"
    "Converts the recording FILE (.ovk, .rcd or .rec) to a WAV file next to it\n"
    "(same name, .wav), and with --mp3 on to an MP3 file (.mp3), with the\n"
    "decoders Vrn_dec.exe, QL8_Dec.exe, QL4_Dec.exe and the encoder sqenc.exe\n"
    "of DIR (default: $LIRROW_TOOLS, else the folder of lirrow-cli; never the\n"
    "recording's folder unless named). Windows programs there are run through\n"
    "Wine. Existing outputs are replaced only by complete new ones; read-only\n"
    "outputs are not replaced.\n"
    "\n"
    "  --mp3            also encode the WAV to MP3 (32 kbit/s)\n"
    "  --tools DIR      folder of the decoder and encoder programs\n"
    "  --encoder lame   encode with lame (from PATH) when DIR has no sqenc.exe\n"
    "\n"
    "Usage: lirrow-cli convert PATH... [-r] [-o DIR] [-j N] [--force | --skip-existing]\n"
    "                          [--json] [--tag] [the options above]\n"
    "Converts every recording named and every recording in the folders named\n"
    "(-r: and in their subfolders); other files are listed as skipped and never\n"
    "touched. Prints NAME<TAB>SECONDS<TAB>STATUS as each recording ends, then how\n"
    "many were converted, skipped and failed; exits with 0 when none failed, 1\n"
    "otherwise. Outputs take their recording's modification time.\n"
    "\n"
    "  -o DIR           write the outputs under DIR, mirroring the folders given\n"
    "  -j N             N conversions at once (default: the number of processors)\n"
    "  --force          convert even when the outputs are up to date\n"
    "  --skip-existing  leave every recording alone that has an output already\n"
    "                   (default: only complete outputs not older than their recording)\n"
    "  --json           one JSON object per recording instead of the lines\n"
    "  --tag            (with --mp3) an ID3v2.3 tag in the MP3: date, time, name\n";

bool AsksForHelp(const std::vector<std::string>& args) {
  return args.size() == 1 && (args[0] == "--help" || args[0] == "-h");
}

bool Operands(const std::vector<std::string>& args, std::vector<std::string>& operands) {
  operands.clear();
  bool ended = false;
  for (const std::string& word : args) {
    if (!ended && word == "--") {
      ended = true;
    } else if (!ended && IsOption(word)) {
      return false;
    } else {
      operands.push_back(word);
    }
  }
  return true;
}

namespace {

// The value of an option at `i` ("--tools DIR", "--tools=DIR", "-j4"); false,
// with the reason printed, when there is none.
bool OptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                 std::FILE* err, std::string& value) {
  const std::string& word = args[i];
  if (word == name) {
    if (i + 1 >= args.size()) {
      Print(err, "lirrow-cli: " + word + " needs a value\n" + kConvertHelp);
      return false;
    }
    value = args[++i];
  } else {
    value = word.substr(name.size() + (StartsWith(name, "--") ? 1 : 0));
  }
  if (value.empty()) {
    Print(err, "lirrow-cli: " + name + " needs a value\n" + kConvertHelp);
    return false;
  }
  return true;
}

// True when `word` is option `name` with its value joined ("--tools=DIR",
// "-j4") or alone.
bool IsValued(const std::string& word, const std::string& name) {
  return word == name || StartsWith(word, StartsWith(name, "--") ? name + "=" : name);
}

// Reads the option at `i` that takes a value; 1 when `word` is none, -1
// when taken, 2 (the reason printed) when its value is wrong.
int ValuedOption(const std::vector<std::string>& args, std::size_t& i, std::FILE* err,
                 ConvertOptions& o) {
  const std::string& word = args[i];
  std::string value;
  if (IsValued(word, "--tools")) {
    if (!OptionValue(args, i, "--tools", err, value)) return 2;
    o.tools = value;
    o.toolsGiven = true;
  } else if (IsValued(word, "--encoder")) {
    if (!OptionValue(args, i, "--encoder", err, value)) return 2;
    if (value != "sqenc" && value != "lame") {
      Print(err, std::string("lirrow-cli: --encoder is sqenc or lame\n") + kConvertHelp);
      return 2;
    }
    o.encoder = value;
  } else if (IsValued(word, "-o") || IsValued(word, "--output")) {
    if (!OptionValue(args, i, word[1] == 'o' ? "-o" : "--output", err, o.outDir)) return 2;
    o.batchOptions = true;
  } else if (IsValued(word, "-j") || IsValued(word, "--jobs")) {
    if (!OptionValue(args, i, word[1] == 'j' ? "-j" : "--jobs", err, value)) return 2;
    char* end = nullptr;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (*end != '\0' || jobs < 1 || jobs > 256) {
      Print(err, "lirrow-cli: -j takes a number of jobs from 1 to 256, not '" + value + "'\n");
      return 2;
    }
    o.jobs = static_cast<int>(jobs);
    o.batchOptions = true;
  } else {
    return 1;
  }
  return -1;
}

// Reads a switch; false when `word` is none.
bool Switch(const std::string& word, ConvertOptions& o) {
  bool* const target = word == "--mp3"             ? &o.mp3
                       : word == "-r"              ? &o.recursive
                       : word == "--force"         ? &o.force
                       : word == "--skip-existing" ? &o.skipExisting
                       : word == "--json"          ? &o.json
                       : word == "--tag"           ? &o.tag
                                                   : nullptr;
  if (!target) return false;
  *target = true;
  if (word != "--mp3") o.batchOptions = true;
  return true;
}

}  // namespace

int ParseConvertArgs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                     ConvertOptions& options) {
  bool ended = false;  // "--" was given: every later word is a PATH
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (!ended && word == "--") {
      ended = true;
    } else if (ended || !IsOption(word)) {
      options.paths.push_back(word);
    } else if (word == "--help" || word == "-h") {
      Print(out, kConvertHelp);
      return 0;
    } else if (Switch(word, options)) {
    } else if (const int code = ValuedOption(args, i, err, options); code != 1) {
      if (code == 2) return 2;
    } else {
      Print(err, "lirrow-cli: convert: unknown option '" + word + "'\n" + kConvertHelp);
      return 2;
    }
  }
  if (options.paths.empty()) {
    Print(err, std::string("lirrow-cli: convert needs a FILE\n") + kConvertHelp);
    return 2;
  }
  if (options.skipExisting && options.force) {
    Print(err, std::string("lirrow-cli: --force and --skip-existing exclude each other\n"));
    return 2;
  }
  if (options.tag && !options.mp3) {
    Print(err, std::string("lirrow-cli: --tag needs --mp3\n"));
    return 2;
  }
  options.file = options.paths[0];
  return -1;
}

}  // namespace lirrow_cli

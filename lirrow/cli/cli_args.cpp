#include "cli_args.h"

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
    "  convert FILE [--mp3] [--tools DIR] [--encoder sqenc|lame]\n"
    "                                    convert a recording to WAV (and MP3)\n"
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
    "  --encoder lame   encode with lame (from PATH) when DIR has no sqenc.exe\n";

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

// The value of --tools or --encoder at `i` ("--tools DIR" or "--tools=DIR");
// false, with the reason printed, when there is none or it is not one of
// the encoders.
bool OptionValue(const std::vector<std::string>& args, std::size_t& i, std::FILE* err,
                 std::string& value) {
  const std::string& word = args[i];
  const bool isTools = StartsWith(word, "--tools");
  if (word == "--tools" || word == "--encoder") {
    if (i + 1 >= args.size()) {
      Print(err, "lirrow-cli: " + word + " needs a value\n" + kConvertHelp);
      return false;
    }
    value = args[++i];
  } else {
    value = word.substr(word.find('=') + 1);
  }
  if (value.empty() || (!isTools && value != "sqenc" && value != "lame")) {
    Print(err, "lirrow-cli: " +
                   std::string(isTools ? "--tools needs a folder" : "--encoder is sqenc or lame") +
                   "\n" + kConvertHelp);
    return false;
  }
  return true;
}

}  // namespace

int ParseConvertArgs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                     ConvertOptions& options) {
  bool ended = false;  // "--" was given: every later word is a FILE
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (!ended && word == "--") {
      ended = true;
    } else if (ended) {
      if (!options.file.empty()) {
        Print(err, "lirrow-cli: convert takes one FILE ('" + word + "' is one too many)\n");
        return 2;
      }
      options.file = word;
    } else if (word == "--help" || word == "-h") {
      Print(out, kConvertHelp);
      return 0;
    } else if (word == "--mp3") {
      options.mp3 = true;
    } else if (word == "--tools" || StartsWith(word, "--tools=") || word == "--encoder" ||
               StartsWith(word, "--encoder=")) {
      const bool isTools = StartsWith(word, "--tools");
      std::string value;
      if (!OptionValue(args, i, err, value)) return 2;
      if (isTools) {
        options.tools = value;
        options.toolsGiven = true;
      } else {
        options.encoder = value;
      }
    } else if (IsOption(word)) {
      Print(err, "lirrow-cli: convert: unknown option '" + word + "'\n" + kConvertHelp);
      return 2;
    } else if (options.file.empty()) {
      options.file = word;
    } else {
      Print(err, "lirrow-cli: convert takes one FILE ('" + word + "' is one too many)\n");
      return 2;
    }
  }
  if (options.file.empty()) {
    Print(err, std::string("lirrow-cli: convert needs a FILE\n") + kConvertHelp);
    return 2;
  }
  return -1;
}

}  // namespace lirrow_cli

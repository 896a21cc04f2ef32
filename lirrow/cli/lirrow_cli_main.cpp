// lirrow-cli: converts the player's voice recordings from Linux.
#include <unistd.h>

#include <cstdio>

#include <string>
#include <vector>

#include "lirrow_cli.h"
#include "project_version.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--version" || args[0] == "version")) {
    std::printf("lirrow-cli %s\n", PROJECT_VERSION_TEXT);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  lirrow_cli::CliStreams streams;
  streams.errIsTerminal = isatty(STDERR_FILENO) == 1;
  streams.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  return lirrow_cli::LirrowCliMain(args, streams);
}

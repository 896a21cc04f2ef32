// lirrow-cli: converts the player's voice recordings from Linux.
#include <unistd.h>

#include <string>
#include <vector>

#include "lirrow_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  lirrow_cli::CliStreams streams;
  streams.errIsTerminal = isatty(STDERR_FILENO) == 1;
  streams.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  return lirrow_cli::LirrowCliMain(args, streams);
}

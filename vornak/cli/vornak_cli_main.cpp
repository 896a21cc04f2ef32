// vornak-cli: formats the player's removable disk from Linux.
#include <unistd.h>

#include <string>
#include <vector>

#include "vornak_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vornak_cli::Console console;
  console.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  return vornak_cli::VornakCliMain(args, vornak_cli::SystemPaths{}, console);
}

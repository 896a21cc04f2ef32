// vornak-cli: formats the player's removable disk from Linux.
#include <unistd.h>

#include <cstdio>

#include <string>
#include <vector>

#include "vornak_cli.h"
#include "project_version.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--version" || args[0] == "version")) {
    std::printf("vornak-cli %s\n", PROJECT_VERSION_TEXT);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
  }
  vornak_cli::Console console;
  console.outIsTerminal = isatty(STDOUT_FILENO) == 1;
  return vornak_cli::VornakCliMain(args, vornak_cli::SystemPaths{}, console);
}

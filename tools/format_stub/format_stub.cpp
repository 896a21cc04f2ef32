// A stand-in for the system's format.com, for the formatter's tests under
// Wine. It formats nothing: it records how it was started and what it read,
// so that a test can check the command line and the keyboard answers.
//
// The record goes to the file named by FORMAT_STUB_LOG (default
// C:\format_stub.log), appended, one run per block:
//   args: <the command line after the program name>
//   stdin: <the bytes of standard input in hexadecimal>
//   end
// FORMAT_STUB_DELAY_MS makes it wait that long before it reads its input (a
// slow format), FORMAT_STUB_EXIT sets its exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
  char buffer[1024];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The command line without the program name (quoted or not).
std::string Arguments() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace

int main() {
  const std::string delay = Env("FORMAT_STUB_DELAY_MS");
  if (!delay.empty()) Sleep(static_cast<DWORD>(std::strtoul(delay.c_str(), nullptr, 10)));

  std::string input;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char chunk[512];
  DWORD got = 0;
  while (in != INVALID_HANDLE_VALUE && ReadFile(in, chunk, sizeof chunk, &got, nullptr) &&
         got > 0) {
    input.append(chunk, got);
  }

  std::string path = Env("FORMAT_STUB_LOG");
  if (path.empty()) path = "C:\\format_stub.log";
  if (FILE* log = std::fopen(path.c_str(), "ab")) {
    std::fprintf(log, "args: %s\nstdin:", Arguments().c_str());
    for (unsigned char c : input) std::fprintf(log, " %02X", c);
    std::fprintf(log, "\nend\n");
    std::fclose(log);
  }

  const std::string code = Env("FORMAT_STUB_EXIT");
  return code.empty() ? 0 : std::atoi(code.c_str());
}

// Native tests that ask independent tools (fsck.fat, mtools, iconv ...):
// running a shell command for its exit code and output, and temporary file
// names private to the test process, since tests run in parallel.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support {

// Runs `command` with sh; its standard output and error into *output. The
// exit code, or -1 when the command could not run or was killed.
inline int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// $TMPDIR (or /tmp) / prefix_PID_name.
inline std::string TempPath(const std::string& prefix, const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + "_" + std::to_string(::getpid()) +
         "_" + name;
}

}  // namespace test_support

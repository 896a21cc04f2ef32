// The INI reader answers like GetPrivateProfileStringA; under Windows the
// same cases run against the system's own function.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "ini_cases.h"
#include "ini_reader.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vornak::test {
namespace {

std::string WriteTemp(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
  return path;
}

TEST(IniReader, AnswersLikeTheSystem) {
  for (const IniCase& c : IniCases()) {
    char out[200];
    std::memset(out, '#', sizeof out);
    const std::uint32_t n = IniGetString(c.file, c.section, c.key, c.defaultText, out, c.size);
    EXPECT_EQ(c.expected, std::string(out)) << c.name;
    EXPECT_EQ(c.expected.size(), n) << c.name;
  }
}

TEST(IniReader, FilesAndMissingFiles) {
  const std::string path = WriteTemp("ini_reader_test.ini", "[409]\nMsgNoFindDisk=Plug it in\n");
  char out[100];
  EXPECT_EQ(10u, IniGetStringFromFile(path, "409", "MsgNoFindDisk", "d", out, sizeof out));
  EXPECT_STREQ("Plug it in", out);
  EXPECT_EQ(1u, IniGetStringFromFile(path + ".none", "409", "MsgNoFindDisk", "d", out, sizeof out));
  EXPECT_STREQ("d", out);
  std::remove(path.c_str());
}

TEST(IniReader, TinyBuffers) {
  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(0u, IniGetString("[s]\nk=value\n", "s", "k", "d", out, 1));
  EXPECT_EQ('\0', out[0]);
  EXPECT_EQ(0u, IniGetString("[s]\nk=value\n", "s", "k", "d", nullptr, 0));
  EXPECT_EQ(3u, IniGetString("[s]\nk=value\n", "s", "k", "d", out, 4));
  EXPECT_STREQ("val", out);
  EXPECT_EQ(0u, IniGetString("", "s", "k", nullptr, out, 4));
  EXPECT_STREQ("", out);
}

#ifdef _WIN32
// The system's own function on the same cases, from a real file.
TEST(IniReaderWin32, SystemFunctionGivesTheSameAnswers) {
  int index = 0;
  for (const IniCase& c : IniCases()) {
    // Full path: a bare name would be looked up in the Windows directory.
    const std::string path = WriteTemp("ini_case_" + std::to_string(index++) + ".ini", c.file);
    char full[MAX_PATH];
    ASSERT_NE(0u, GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr));
    char sys[200], own[200];
    const DWORD n = GetPrivateProfileStringA(c.section, c.key, c.defaultText, sys, c.size, full);
    const std::uint32_t m =
        IniGetStringFromFile(full, c.section, c.key, c.defaultText, own, c.size);
    EXPECT_EQ(c.expected, std::string(sys)) << c.name;
    EXPECT_EQ(c.expected.size(), n) << c.name;
    EXPECT_EQ(std::string(sys), std::string(own)) << c.name;
    EXPECT_EQ(n, m) << c.name;
    std::remove(path.c_str());
  }
}
#endif

}  // namespace
}  // namespace vornak::test

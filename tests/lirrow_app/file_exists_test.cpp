// FileExists against the real file system of either build.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "converter_app.h"

namespace lirrow {
namespace {

namespace fs = std::filesystem;

TEST(FileExists, FilesButNotFoldersOrMissingNames) {
  // A folder of this run's own: other runs of the suite may go on beside it.
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::temp_directory_path() / ("lirrow_file_exists_" + std::to_string(stamp));
  fs::create_directories(dir);
  const fs::path file = dir / "memo.rec";
  std::ofstream(file) << "data";
  const fs::path empty = dir / "empty.rec";
  std::ofstream{empty};

  EXPECT_TRUE(FileExists(file.wstring()));
  EXPECT_TRUE(FileExists(empty.wstring()));
  EXPECT_FALSE(FileExists((dir / "missing.rec").wstring()));
  EXPECT_FALSE(FileExists(dir.wstring()));
  EXPECT_FALSE(FileExists(L""));

  fs::remove_all(dir);
  EXPECT_FALSE(FileExists(file.wstring()));
}

}  // namespace
}  // namespace lirrow

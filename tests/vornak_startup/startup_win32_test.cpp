// The Win32 binding of the start-up seam against the real API (under Wine
// here): the program path, fmt.ini beside the program, icons from files.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "startup.h"
#include "startup_platform_win32.h"
#include "texts.h"

namespace vornak {
namespace {

std::string ProgramDir() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path, n);
  return p.substr(0, p.rfind('\\'));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A 32x32 two-colour icon file.
std::string IconFileBytes() {
  std::string b;
  auto u16 = [&b](unsigned v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
  };
  auto u32 = [&u16](unsigned v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const unsigned imageSize = 40 + 8 + 128 + 128;
  u16(0);
  u16(1);
  u16(1);  // ICONDIR
  b += '\x20';
  b += '\x20';
  b += '\x02';
  b += '\0';  // 32x32, 2 colours
  u16(1);
  u16(1);
  u32(imageSize);
  u32(22);  // planes, bits, size, offset
  u32(40);
  u32(32);
  u32(64);
  u16(1);
  u16(1);  // BITMAPINFOHEADER
  u32(0);
  u32(0);
  u32(0);
  u32(0);
  u32(0);
  u32(0);
  u32(0x00000000);
  u32(0x00FFFFFF);  // palette: black, white
  for (int row = 0; row < 32; ++row) u32(row % 2 ? 0xAAAAAAAAu : 0x55555555u);  // XOR
  for (int row = 0; row < 32; ++row) u32(0);                                    // AND
  return b;
}

TEST(Win32StartupPlatform, ProgramPathAndLanguage) {
  Win32StartupPlatform p;
  EXPECT_EQ(::GetSystemDefaultLangID(), p.GetSystemDefaultLangID());
  std::string ini;
  ASSERT_TRUE(IniPath(p, ini));
  EXPECT_EQ(ProgramDir() + "\\fmt.ini", ini);
}

TEST(Win32StartupPlatform, FmtIniBesideTheProgram) {
  Win32StartupPlatform p;
  const std::string path = ProgramDir() + "\\fmt.ini";
  const std::string longValue(150, 'v');
  WriteFile(path,
            "[409]\r\nTitle=\r\nMsgLockFail=" + longValue +
                "\r\nDlgItemStart = \"Go\" \r\nAboutMenu=About it\r\nMsgNoFindDisk=Plug it\r\n"
                "[804]\r\nTitle=Simplified\r\n");
  FormatterTexts t = FormatterTexts::EnglishDefaults();
  ASSERT_TRUE(ReadIniOverrides(p, kLangEnglish, t));
  EXPECT_EQ("", t.Title);
  EXPECT_EQ(longValue.substr(0, 99), t.MsgLockFail);
  EXPECT_EQ("Go", t.DlgItemStart);
  EXPECT_EQ("About it", t.AboutBoxCaption);
  EXPECT_EQ("Quick", t.DlgItemQuick);
  EXPECT_EQ("Plug it", ReadNoDriveText(p, kLangEnglish, path));
  EXPECT_EQ(DefaultNoDriveText(kLangSimplifiedChinese),
            ReadNoDriveText(p, kLangSimplifiedChinese, path));
  ::DeleteFileA(path.c_str());

  // Without the file every text stays.
  FormatterTexts u = FormatterTexts::EnglishDefaults();
  ASSERT_TRUE(ReadIniOverrides(p, kLangEnglish, u));
  EXPECT_EQ("Vornak V2.0", u.Title);
  EXPECT_EQ("Lock volume error!", u.MsgLockFail);
}

TEST(Win32StartupPlatform, IconFromAFileOrTheBrandRule) {
  Win32StartupPlatform p;
  const std::string dir = ProgramDir();
  const std::string good = dir + "\\startup_test_icon.ico";
  const std::string bad = dir + "\\startup_test_not_icon.ico";
  WriteFile(good, IconFileBytes());
  WriteFile(bad, "this is no icon");

  FormatterTexts t = FormatterTexts::EnglishDefaults();
  t.IconFile = good;
  IconChoice c = ChooseDialogIcon(p, t);
  EXPECT_TRUE(c.fromFile);
  EXPECT_NE(0u, c.handle);
  if (c.handle) ::DestroyIcon(reinterpret_cast<HICON>(c.handle));

  t.IconFile = bad;
  t.AboutCompany = "VESTIK";
  c = ChooseDialogIcon(p, t);
  EXPECT_FALSE(c.fromFile);
  EXPECT_EQ(137, c.resourceId);
  // This test program has no icon resources: nothing loads.
  EXPECT_EQ(0u, c.handle);
  EXPECT_EQ(0u, p.LoadResourceIcon(128));

  ::DeleteFileA(good.c_str());
  ::DeleteFileA(bad.c_str());
}

}  // namespace
}  // namespace vornak

#include "text_util.h"

#include <gtest/gtest.h>

namespace {

using namespace guidriver;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::string error;
  EXPECT_TRUE(SplitWords(line, words, error)) << error;
  return words;
}

TEST(SplitWords, QuotesEscapesAndComments) {
  EXPECT_EQ(Split("click --window \"Driver Test App\" --id 1001"),
            (std::vector<std::string>{"click", "--window", "Driver Test App", "--id", "1001"}));
  EXPECT_EQ(Split("type --id 3 'a \"b\" \\n'"),
            (std::vector<std::string>{"type", "--id", "3", "a \"b\" \\n"}));
  EXPECT_EQ(Split("msgbox --expect-text \"Line\\nTwo \\\"q\\\" \\\\\""),
            (std::vector<std::string>{"msgbox", "--expect-text", "Line\nTwo \"q\" \\"}));
  EXPECT_EQ(Split("  # only a comment"), std::vector<std::string>{});
  EXPECT_EQ(Split("echo a#b # tail"), (std::vector<std::string>{"echo", "a#b"}));
  EXPECT_EQ(Split("type \"\""), (std::vector<std::string>{"type", ""}));
  EXPECT_EQ(Split("x\"y z\"w"), (std::vector<std::string>{"xy zw"}));
  EXPECT_EQ(Split("wait --window \"格式化\"\r"),
            (std::vector<std::string>{"wait", "--window", "格式化"}));

  std::vector<std::string> words;
  std::string error;
  EXPECT_FALSE(SplitWords("click --window \"open", words, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(SplitWords("click 'open", words, error));
}

TEST(Quote, EveryRecordStaysOnOneLineAndParsesBack) {
  for (std::string text :
       {std::string("plain"), std::string("two\nlines\r\n"), std::string("tab\there \"q\" \\"),
        std::string("bell\x07"), std::string("未發現可移動磁碟!"), std::string()}) {
    std::string q = Quote(text);
    EXPECT_EQ(q.find('\n'), std::string::npos) << q;
    std::vector<std::string> words;
    std::string error;
    ASSERT_TRUE(SplitWords("text=" + q, words, error)) << q;
    ASSERT_EQ(words.size(), 1u);
    if (text.find('\x07') == std::string::npos) {
      EXPECT_EQ(words[0], "text=" + text);
    }
  }
  EXPECT_EQ(Quote("bell\x07"), "\"bell\\x07\"");
}

TEST(TextMatches, MnemonicsCaseAndSubstrings) {
  EXPECT_EQ(StripMnemonic("&Retry"), "Retry");
  EXPECT_EQ(StripMnemonic("Save && &Quit"), "Save & Quit");
  EXPECT_TRUE(TextMatches("&Retry", "retry", Match::Exact, true));
  EXPECT_FALSE(TextMatches("&Retry", "Retry", Match::Exact, false));
  EXPECT_FALSE(TextMatches("Retry later", "Retry", Match::Exact, true));
  EXPECT_TRUE(TextMatches("Lirrow Tool 2.0 - a.wav", "Tool 2.0", Match::Substring, false));
  EXPECT_FALSE(TextMatches("Format", "format", Match::Exact, false));
}

TEST(Numbers, DecimalHexAndRejects) {
  long long v;
  EXPECT_TRUE(ParseNumber("1009", v));
  EXPECT_EQ(v, 1009);
  EXPECT_TRUE(ParseNumber("0x8000", v));
  EXPECT_EQ(v, 0x8000);
  EXPECT_TRUE(ParseNumber("-1", v));
  EXPECT_EQ(v, -1);
  for (const char* bad : {"", "12a", "0x", "x10", "--id", "-"})
    EXPECT_FALSE(ParseNumber(bad, v)) << bad;
}

TEST(Names, SystemCommandsAndKeys) {
  unsigned v;
  EXPECT_TRUE(ParseSysCommand("SC_CLOSE", v));
  EXPECT_EQ(v, 0xF060u);
  EXPECT_TRUE(ParseSysCommand("minimize", v));
  EXPECT_EQ(v, 0xF020u);
  EXPECT_TRUE(ParseSysCommand("restore", v));
  EXPECT_EQ(v, 0xF120u);
  EXPECT_TRUE(ParseSysCommand("0x10", v));
  EXPECT_EQ(v, 0x10u);
  EXPECT_FALSE(ParseSysCommand("shutdown", v));
  EXPECT_FALSE(ParseSysCommand("0x10000", v));
  EXPECT_TRUE(ParseKey("Enter", v));
  EXPECT_EQ(v, 0x0Du);
  EXPECT_TRUE(ParseKey("esc", v));
  EXPECT_EQ(v, 0x1Bu);
  EXPECT_TRUE(ParseKey("0x41", v));
  EXPECT_EQ(v, 0x41u);
  EXPECT_FALSE(ParseKey("hyper", v));
  EXPECT_FALSE(ParseKey("0", v));
}

}  // namespace

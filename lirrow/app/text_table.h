// The 32 texts of the converter, named by their INI keys, and the three
// built-in tables (English, Simplified Chinese, Traditional Chinese).
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace lirrow {

// Keys in INI order; the numeric value is the text's index in a TextTable.
enum class TextKey : int {
  OvkToPcm = 0,
  NotSuport,
  Mp3OutputErr,
  WavOutputErr,
  PcmToMp3,
  BinToPcm,
  OvkToBin,
  PcmToStereo,
  NotFindExeFile,
  CreateFileFailed,
  NoEnoughSapce,
  ConvertErr,
  About,
  Title,
  ID_EXIT,
  IDC_BTN_HELP,
  IDC_MP3,
  IDC_OPEN,
  IDC_WAV,
  IDC_BTN_START,
  IDC_SC_OUTPUT,
  AboutTitle,
  AboutIDOK,
  AboutIDC_STATIC1,
  AboutIDC_STATIC2,
  HelpIDOK,
  HelpTitle,
  InforIDCANCEL,
  AppNoMsdxm,
  HelpFile,
  BadFormatFile,
  IconFile,
};

constexpr std::size_t kTextCount = 32;

// Longest text kept, in characters (an INI value is cut to this length).
constexpr std::size_t kMaxTextLength = 259;

// The application name: the caption of every message box.
constexpr const wchar_t kAppName[] = L"Lirrow";

// The INI key of a text, e.g. L"ConvertErr".
const wchar_t* TextKeyName(TextKey key);

// The key at index i (0 <= i < kTextCount).
inline TextKey TextKeyAt(std::size_t i) { return static_cast<TextKey>(static_cast<int>(i)); }

// The 32 texts in key order.
struct TextTable {
  std::array<std::wstring, kTextCount> texts;

  const std::wstring& operator[](TextKey key) const { return texts[static_cast<std::size_t>(key)]; }
  std::wstring& operator[](TextKey key) { return texts[static_cast<std::size_t>(key)]; }
  const std::wstring& Get(TextKey key) const { return (*this)[key]; }
};

// Built-in tables.
const TextTable& EnglishTexts();
const TextTable& SimplifiedChineseTexts();
const TextTable& TraditionalChineseTexts();

}  // namespace lirrow

// The main dialog's handlers against a scripted window, player and conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "converter_app.h"
#include "converter_dialog.h"

namespace lirrow {
namespace {

struct Message {
  std::wstring text;
  MessageIcon icon;
};

// Controls as a table; writing the source box raises its change notification
// as an edit control does.
class FakeWindow : public DialogWindow {
 public:
  ConverterDialog* dialog = nullptr;
  std::map<int, std::wstring> text;
  std::map<int, bool> checked;
  std::map<int, bool> enabled;
  std::wstring caption;
  std::vector<std::pair<unsigned, std::wstring>> menuItems;
  std::vector<Message> messages;
  std::vector<std::wstring> events;
  bool chooseResult = true;
  std::wstring chosenPath;
  std::wstring chooseFilter;
  std::wstring windowsDirectory = L"C:\\WINDOWS";
  long shellResult = 42;
  std::wstring shellProgram, shellArguments;
  std::vector<std::wstring> deleted;
  int endResult = -100;
  int focusedAndSelected = 0;
  int reportedErrors = 0;
  int aboutShown = 0;
  const TextTable* iconTexts = nullptr;

  std::wstring ControlText(int id) override { return text[id]; }
  void SetControlText(int id, const std::wstring& value) override {
    text[id] = value;
    if (id == ctl::Source && dialog) dialog->UpdateStartButton();
  }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool value) override { checked[id] = value; }
  void EnableControl(int id, bool value) override { enabled[id] = value; }
  void SetCaption(const std::wstring& value) override { caption = value; }
  void AppendSystemMenuItem(unsigned command, const std::wstring& value) override {
    menuItems.emplace_back(command, value);
  }
  void InstallWindowIcon(const TextTable& texts) override { iconTexts = &texts; }
  void ShowMessage(const std::wstring& value, MessageIcon icon) override {
    messages.push_back({value, icon});
    events.push_back(L"message");
  }
  bool ChooseFileToOpen(const std::wstring& filter, std::wstring& path) override {
    chooseFilter = filter;
    if (chooseResult) path = chosenPath;
    return chooseResult;
  }
  void FocusAndSelectAll(int id) override { focusedAndSelected = id; }
  std::wstring WindowsDirectory() override { return windowsDirectory; }
  long ShellOpen(const std::wstring& program, const std::wstring& arguments) override {
    shellProgram = program;
    shellArguments = arguments;
    return shellResult;
  }
  void DeleteFileIfPresent(const std::wstring& path) override {
    deleted.push_back(path);
    events.push_back(L"delete");
  }
  void EndDialog(int result) override {
    endResult = result;
    events.push_back(L"end");
  }
  void ShowAboutBox(const TextTable&) override { ++aboutShown; }
  bool ReportSystemError() override {
    ++reportedErrors;
    events.push_back(L"report");
    return true;
  }
  std::vector<std::uint32_t> systemErrors;
  void ShowSystemError(std::uint32_t code) override {
    systemErrors.push_back(code);
    events.push_back(L"system-error");
  }
};

class FakePlayer : public PlayerControl {
 public:
  std::vector<std::wstring> files;
  unsigned failWith = 0;
  double duration = 0;
  int booleanSet = 0;
  std::vector<std::wstring>* events = nullptr;

  unsigned SetFileName(const std::wstring& path) override {
    files.push_back(path);
    if (events) events->push_back(L"player:" + path);
    return path.empty() ? 0 : failWith;
  }
  double Duration() override { return duration; }
  void SetBooleanSetting(bool value) override { booleanSet += value ? 1 : 100; }
};

class FakeConversion : public Conversion {
 public:
  bool decodersPresent = true;
  int checks = 0;
  std::vector<ConversionRequest> converted;
  std::function<void()> duringConversion;
  ConversionResult result = Abandoned();

  static ConversionResult Abandoned() {
    ConversionResult r;
    r.status = ConversionStatus::kStopped;
    return r;
  }
  bool CheckDecoders() override {
    ++checks;
    return decodersPresent;
  }
  ConversionResult ConvertRecording(const ConversionRequest& request) override {
    converted.push_back(request);
    if (duringConversion) duringConversion();
    return result;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.dialog = &dialog;
    player.events = &window.events;
    dialog.Initialise();
  }

  // Sets the source box as typing would.
  void Type(const std::wstring& path) { window.SetControlText(ctl::Source, path); }
  bool StartEnabled() { return window.enabled[ctl::Start]; }

  TextTable texts = EnglishTexts();
  FakeWindow window;
  FakePlayer player;
  FakeConversion conversion;
  ConverterDialog dialog{window, player, conversion, texts, L"C:\\Start"};
};

TEST_F(DialogTest, InitialiseSetsCaptionsMenuAndDefaults) {
  EXPECT_EQ(window.caption, L"Lirrow Tool 2.0");
  ASSERT_EQ(window.menuItems.size(), 1u);
  EXPECT_EQ(window.menuItems[0].first, 16u);
  EXPECT_EQ(window.menuItems[0].second, L"About Lirrow Tool(&A)");
  EXPECT_EQ(window.text[ctl::Exit], L"Exit");
  EXPECT_EQ(window.text[ctl::Help], L"Help");
  EXPECT_EQ(window.text[ctl::Open], L"Open");
  EXPECT_EQ(window.text[ctl::Start], L"Convert");
  EXPECT_EQ(window.text[ctl::Mp3], L"Output .MP3 file");
  EXPECT_EQ(window.text[ctl::Wav], L"Output .WAV file");
  EXPECT_EQ(window.text[ctl::OutputGroup], L"Output Options");
  EXPECT_FALSE(StartEnabled());
  EXPECT_TRUE(window.checked[ctl::Wav]);
  EXPECT_FALSE(window.checked[ctl::Mp3]);
  EXPECT_TRUE(dialog.WavFlag());
  EXPECT_FALSE(dialog.Mp3Flag());
  EXPECT_EQ(player.booleanSet, 1);
  // The icon is chosen from the dialog's own copy of the texts.
  ASSERT_NE(window.iconTexts, nullptr);
  EXPECT_EQ(window.iconTexts, &dialog.Texts());
}

TEST(DialogTexts, AboutTextWithAmpersandIsUsedAsItIs) {
  EXPECT_EQ(AboutMenuCaption(L"&About"), L"&About");
  EXPECT_EQ(AboutMenuCaption(L"A&&B"), L"A&&B");
  EXPECT_EQ(AboutMenuCaption(L""), L"(&A)");

  TextTable texts = EnglishTexts();
  texts[TextKey::About] = L"\u5173\u4E8E(&H)";
  texts[TextKey::Title] = L"";
  FakeWindow window;
  FakePlayer player;
  FakeConversion conversion;
  ConverterDialog dialog(window, player, conversion, texts, L"C:\\S");
  window.caption = L"from template";
  dialog.Initialise();
  EXPECT_EQ(window.menuItems.at(0).second, L"\u5173\u4E8E(&H)");
  EXPECT_EQ(window.caption, L"");
}

TEST_F(DialogTest, StartFollowsTheExtensionOfTheTypedPath) {
  Type(L"D:\\voice\\MEMO.REC");
  EXPECT_TRUE(StartEnabled());
  Type(L"D:\\voice\\memo.rec.bak");
  EXPECT_FALSE(StartEnabled());
  Type(L"D:\\voice\\memo.Ovk");
  EXPECT_TRUE(StartEnabled());
  Type(L"D:\\voice\\memo");
  EXPECT_FALSE(StartEnabled());
  Type(L"rcd");  // no dot: the whole text counts
  EXPECT_TRUE(StartEnabled());
  Type(L"D:\\voice.rec\\memo");  // the folder's dot is the last one
  EXPECT_FALSE(StartEnabled());
  Type(L"");
  EXPECT_FALSE(StartEnabled());
}

TEST_F(DialogTest, OutputOptionClicksReadTheBoxes) {
  window.checked[ctl::Mp3] = true;
  window.text[ctl::Source] = L"a.rcd";
  dialog.OnOutputOptionClicked();
  EXPECT_TRUE(dialog.Mp3Flag());
  EXPECT_TRUE(StartEnabled());
}

TEST_F(DialogTest, OpenMediaFileLoadsThePlayer) {
  window.chosenPath = L"E:\\Music\\SONG.MP3";
  player.duration = 3725.9;
  Type(L"old.rec");
  dialog.Open();
  EXPECT_EQ(window.chooseFilter,
            L"Record Files(*.ovk; *.rcd; *.rec)|*.ovk;*.rcd;*.rec|MP3 Files(*.mp3)|*.mp3|"
            L"WAV Files(*.wav)|*.wav|All Files(*.*)|*.*||");
  ASSERT_EQ(player.files.size(), 1u);
  EXPECT_EQ(player.files[0], L"E:\\Music\\SONG.MP3");
  EXPECT_EQ(window.reportedErrors, 1);
  EXPECT_EQ(window.caption, L"E:\\Music\\SONG.MP3");
  EXPECT_EQ(window.text[ctl::Source], L"E:\\Music\\SONG.MP3");
  EXPECT_EQ(window.text[ctl::TotalTime], L"1:02:05");
  EXPECT_EQ(dialog.TotalTimeText(), L"1:02:05");
  EXPECT_FALSE(StartEnabled());
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(DialogTest, OpenWavKeepsFieldsThatWereNotChanged) {
  // A control write must not lose the fields to the box's change handler.
  window.chosenPath = L"E:\\a.wav";
  player.duration = 59.99;
  window.checked[ctl::Mp3] = true;
  dialog.OnOutputOptionClicked();
  dialog.Open();
  EXPECT_EQ(window.text[ctl::TotalTime], L"0:00:59");
  EXPECT_TRUE(window.checked[ctl::Mp3]);
  EXPECT_TRUE(dialog.Mp3Flag());
}

TEST_F(DialogTest, WritingControlsKeepsEveryField) {
  // The source box's change handler runs in the middle of the write; it
  // must not read the controls not yet written back into the fields.
  dialog.SourcePath() = L"D:\\voice\\new.rec";
  dialog.TotalTimeText() = L"0:00:07";
  dialog.WriteControls();
  EXPECT_EQ(window.text[ctl::Source], L"D:\\voice\\new.rec");
  EXPECT_EQ(window.text[ctl::TotalTime], L"0:00:07");
  EXPECT_EQ(dialog.TotalTimeText(), L"0:00:07");
  EXPECT_TRUE(StartEnabled());
  dialog.ReadControls();
  EXPECT_EQ(dialog.TotalTimeText(), L"0:00:07");
}

TEST_F(DialogTest, OpenRecordingOnlyFillsTheBox) {
  window.caption = L"before";
  window.text[ctl::TotalTime] = L"0:00:10";
  window.chosenPath = L"E:\\rec\\memo.rcd";
  dialog.Open();
  EXPECT_TRUE(player.files.empty());
  EXPECT_EQ(window.caption, L"before");
  EXPECT_EQ(window.text[ctl::Source], L"E:\\rec\\memo.rcd");
  EXPECT_EQ(window.text[ctl::TotalTime], L"0:00:10");
  EXPECT_TRUE(StartEnabled());
}

TEST_F(DialogTest, OpenOtherFileOrCancel) {
  window.chosenPath = L"E:\\notes.txt";
  dialog.Open();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, L"Unsupport Format");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Error);
  EXPECT_TRUE(window.text[ctl::Source].empty());

  window.chooseResult = false;
  window.chosenPath = L"E:\\x.mp3";
  dialog.Open();
  EXPECT_EQ(window.messages.size(), 1u);
  EXPECT_TRUE(player.files.empty());
}

TEST_F(DialogTest, PlayerFailureShowsTheSystemErrorCode) {
  player.failWith = 2;
  window.chosenPath = L"E:\\gone.wav";
  dialog.Open();
  ASSERT_GE(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, L"System Error Code :2");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Warning);
  // Unloading never reports.
  window.messages.clear();
  dialog.SetPlayerFile(L"");
  EXPECT_TRUE(window.messages.empty());
}

// A recording of this test's own: ctest runs the cases of this file as
// separate processes side by side, and one shared name let a case delete
// the file another was about to start on.
class TempFile {
 public:
  TempFile() {
    static std::atomic<unsigned> serial{0};
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = ::testing::TempDir() + "lirrow_dialog_" + test->test_suite_name() + "_" + test->name() +
            "_" + std::to_string(stamp) + "_" + std::to_string(serial++) + ".rec";
    std::ofstream(path_) << "x";
  }
  ~TempFile() { std::remove(path_.c_str()); }
  std::wstring Wide() const { return std::wstring(path_.begin(), path_.end()); }
  const std::string& Narrow() const { return path_; }

 private:
  std::string path_;
};

TEST_F(DialogTest, StartWithMissingFileSelectsThePathSilently) {
  Type(L"/nonexistent/folder/memo.rec");
  dialog.Start();
  EXPECT_EQ(window.focusedAndSelected, ctl::Source);
  EXPECT_EQ(conversion.checks, 0);
  EXPECT_TRUE(conversion.converted.empty());
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(DialogTest, StartChecksDecodersBeforeConverting) {
  TempFile file;
  Type(file.Wide());
  conversion.decodersPresent = false;
  dialog.Start();
  EXPECT_EQ(conversion.checks, 1);
  EXPECT_TRUE(conversion.converted.empty());

  conversion.decodersPresent = true;
  dialog.Start();
  ASSERT_EQ(conversion.converted.size(), 1u);
  EXPECT_EQ(conversion.converted[0].sourcePath, file.Wide());
  EXPECT_TRUE(conversion.converted[0].wav);
  EXPECT_FALSE(conversion.converted[0].mp3);
  EXPECT_EQ(window.focusedAndSelected, 0);
}

TEST_F(DialogTest, StartShowsTheConversionsResult) {
  TempFile file;
  Type(file.Wide());
  // Produced: the MP3 is the result, loaded, named in the caption and timed.
  conversion.result.status = ConversionStatus::kConverted;
  conversion.result.wavPath = L"D:\\voice\\memo.wav";
  conversion.result.mp3Path = L"D:\\voice\\memo.mp3";
  conversion.result.seconds = 3725.5;
  dialog.Start();
  EXPECT_EQ(dialog.OutputPath(), L"D:\\voice\\memo.mp3");
  EXPECT_EQ(window.caption, L"D:\\voice\\memo.mp3");
  EXPECT_EQ(player.files, (std::vector<std::wstring>{L"", L"D:\\voice\\memo.mp3"}));
  EXPECT_EQ(window.text[ctl::TotalTime], L"1:02:05");
  EXPECT_TRUE(window.messages.empty());

  // Unsupported: the path goes back into the box, the stop icon tells why;
  // the earlier result stays in the fields, the player stays unloaded.
  conversion.result = ConversionResult();
  dialog.Start();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, L"Unsupport Format");
  EXPECT_EQ(window.messages[0].icon, MessageIcon::Stop);
  EXPECT_EQ(window.text[ctl::Source], file.Wide());
  EXPECT_EQ(dialog.SourcePath(), file.Wide());
  EXPECT_EQ(player.files.back(), L"");
  EXPECT_EQ(window.text[ctl::TotalTime], L"1:02:05");

  // A failed framed decoder: ConvertErr, then the system's word on it.
  window.messages.clear();
  conversion.result.status = ConversionStatus::kToolFailed;
  conversion.result.systemError = 6;
  dialog.Start();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text,
            L"Failed to convert file!Perhaps have no enough space for write!");
  EXPECT_EQ(window.systemErrors, std::vector<std::uint32_t>{6});
}

TEST_F(DialogTest, StartIsNotReenteredWhileConverting) {
  TempFile file;
  Type(file.Wide());
  int nested = 0;
  conversion.duringConversion = [&] {
    if (nested++ == 0) {
      dialog.Start();  // pressed again from inside the message pump
      window.chosenPath = L"E:\\other.rec";
      dialog.Open();
    }
  };
  dialog.Start();
  EXPECT_EQ(conversion.converted.size(), 1u);
  EXPECT_EQ(window.text[ctl::Source], file.Wide());
}

TEST_F(DialogTest, ExitDuringConversionWaitsForItsEnd) {
  TempFile file;
  Type(file.Wide());
  conversion.duringConversion = [&] {
    dialog.SystemCommand(kCloseCommand);
    EXPECT_EQ(window.endResult, -100);  // not yet
    window.events.push_back(L"conversion ends");
  };
  dialog.Start();
  EXPECT_EQ(window.endResult, ctl::Ok);
  const std::vector<std::wstring> expected = {L"player:", L"conversion ends", L"player:", L"delete",
                                              L"end"};
  EXPECT_EQ(window.events, expected);
}

TEST_F(DialogTest, HelpRunsHhWithStartFolderAndHelpFile) {
  dialog.Help();
  EXPECT_EQ(window.shellProgram, L"C:\\WINDOWS\\hh.exe");
  EXPECT_EQ(window.shellArguments, L"C:\\Start\\helpen.htm");
  EXPECT_EQ(window.reportedErrors, 0);

  window.shellResult = 32;
  dialog.Help();
  EXPECT_EQ(window.reportedErrors, 1);
}

TEST(DialogHelp, HelpFileTextFromIniIsUsed) {
  TextTable texts = EnglishTexts();
  texts[TextKey::HelpFile] = L"guide page.htm";
  FakeWindow window;
  FakePlayer player;
  FakeConversion conversion;
  ConverterDialog dialog(window, player, conversion, texts, L"D:\\Folder With Space");
  dialog.Initialise();
  dialog.Help();
  EXPECT_EQ(window.shellArguments, L"D:\\Folder With Space\\guide page.htm");
  texts[TextKey::HelpFile] = L"";  // the dialog keeps its own copy
  dialog.Help();
  EXPECT_EQ(window.shellArguments, L"D:\\Folder With Space\\guide page.htm");
}

TEST_F(DialogTest, ExitUnloadsDeletesTempMp3AndEnds) {
  dialog.Exit();
  const std::vector<std::wstring> expected = {L"player:", L"delete", L"end"};
  EXPECT_EQ(window.events, expected);
  ASSERT_EQ(window.deleted.size(), 1u);
  EXPECT_EQ(window.deleted[0], L"C:\\Start\\tempMP3.mp3");
  EXPECT_EQ(window.endResult, ctl::Ok);
}

TEST_F(DialogTest, SystemCommands) {
  EXPECT_TRUE(dialog.SystemCommand(16));
  EXPECT_TRUE(dialog.SystemCommand(16 | 0x3));  // the low four bits are the system's
  EXPECT_EQ(window.aboutShown, 2);
  EXPECT_FALSE(dialog.SystemCommand(0xF020));  // minimise: default handling
  EXPECT_EQ(window.endResult, -100);
  EXPECT_FALSE(dialog.SystemCommand(0xF060));  // close: Exit, then the default handling
  EXPECT_EQ(window.endResult, ctl::Ok);
  EXPECT_EQ(window.deleted.size(), 1u);
  EXPECT_EQ(window.aboutShown, 2);
}

TEST(TotalTime, HoursMinutesSeconds) {
  EXPECT_EQ(FormatTotalTime(3725), L"1:02:05");
  EXPECT_EQ(FormatTotalTime(59600000 / 16000.0), L"1:02:05");
  EXPECT_EQ(FormatTotalTime(59.99), L"0:00:59");
  EXPECT_EQ(FormatTotalTime(0), L"0:00:00");
  EXPECT_EQ(FormatTotalTime(-3), L"0:00:00");
  EXPECT_EQ(FormatTotalTime(36000 + 61), L"10:01:01");
}

TEST(Extension, LastDotOrWholePath) {
  EXPECT_EQ(PathExtension(L"memo.part.ovk"), L"ovk");
  EXPECT_EQ(PathExtension(L"memo"), L"memo");
  EXPECT_EQ(PathExtension(L"memo."), L"");
  EXPECT_TRUE(EqualsIgnoreCase(L"Mp3", L"mP3"));
  EXPECT_FALSE(EqualsIgnoreCase(L"mp3", L"mp"));
}

}  // namespace
}  // namespace lirrow

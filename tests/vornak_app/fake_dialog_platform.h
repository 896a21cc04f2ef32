// A scripted DialogPlatform: controls as plain state, message boxes answered
// by a callback, a clock, an in-memory file system and a started-process
// record. Tests read what the dialog did from its fields.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialog_platform.h"
#include "file_sharing.h"

namespace vornak::test {

class FakeDialogPlatform : public DialogPlatform {
 public:
  // More message boxes than any scenario shows: a run past it is looping.
  static constexpr std::size_t kMaxBoxes = 500;
  struct Box {
    std::string text, caption;
    std::uint32_t type;
  };
  struct Control {
    std::string text;
    bool enabled = true;
    bool checked = false;
    int limit = 0;
  };

  // --- Script ---------------------------------------------------------------
  // Answers a message box; by default IDYES for questions, IDOK otherwise.
  std::function<int(const Box&)> answer;
  // Called for every PumpOneMessage (the n-th call, from 1).
  std::function<void(int)> onPump;
  // Called when the started process is waited for.
  std::function<WaitResult(const std::string& commandLine)> onWait;
  std::function<void(const std::string& from, const std::string& to)> onCopy;
  bool startFails = false;
  int markerFailures = 0;  // copies to ...\finish that fail first
  std::uint32_t ticks = 0x12345678u;
  std::string windowsDir = "C:\\WINDOWS";
  std::string modulePath = "C:\\Tools\\vornak.exe";
  bool hasSystemMenu = true;
  bool doubleByteCodePage = false;  // GBK or Big5 (lead bytes 0x81-0xFE)
  // Files by upper-cased path; directory listings by upper-cased folder path
  // (without the trailing backslash), in listing order.
  std::map<std::string, std::string> files;
  std::map<std::string, std::vector<FindEntry>> folders;
  std::vector<std::string> failingCopies;  // upper-cased targets whose copy fails
  // File attributes by upper-cased path (absent: FILE_ATTRIBUTE_ARCHIVE).
  std::map<std::string, std::uint32_t> attributes;
  // The error of the last failed file call, as GetLastError would give it.
  std::uint32_t lastError = 0;

  // --- Record ---------------------------------------------------------------
  std::map<int, Control> controls;
  std::vector<std::string> combo;
  int comboSel = -1;
  std::vector<Box> boxes;
  std::string caption;
  int focus = 0;
  bool waitCursor = false;
  IconHandle icon = 0;
  int redraws = 0;
  int pumps = 0;
  bool ended = false;
  std::string aboutItem;
  std::map<int, bool> systemMenu;  // position -> enabled
  int aboutShown = 0;
  std::vector<std::uint32_t> sleeps;
  std::vector<std::string> notified;
  std::vector<std::string> started;
  int terminated = 0;
  std::vector<std::uint32_t> waitTimeouts;
  std::vector<std::pair<std::string, std::string>> copies;  // successful copies
  std::vector<std::string> deleted;
  std::vector<std::string> statusDuringCopies;  // static 1024 at each copy

  static std::string Key(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> t;
    for (const Box& b : boxes) t.push_back(b.text);
    return t;
  }
  int CountBoxes(const std::string& text) const {
    return static_cast<int>(
        std::count_if(boxes.begin(), boxes.end(), [&](const Box& b) { return b.text == text; }));
  }

  // --- DialogPlatform ---------------------------------------------------------
  int MessageBoxA(const char* text, const char* cap, std::uint32_t type) override {
    boxes.push_back({text ? text : "", cap ? cap : "", type});
    // A run that asks the same thing without end (a wait that never ends)
    // fails here at once, and is answered with Cancel from then on.
    if (boxes.size() > kMaxBoxes) {
      if (boxes.size() == kMaxBoxes + 1)
        ADD_FAILURE() << "more than " << kMaxBoxes << " message boxes, the last \""
                      << boxes.back().text << "\": the run does not end";
      return dlg::kIdCancel;
    }
    if (answer) return answer(boxes.back());
    return (type & 0xF) == dlg::kMbYesNo ? dlg::kIdYes : dlg::kIdOk;
  }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetControlText(int id, const std::string& text) override { controls[id].text = text; }
  std::string GetControlText(int id) override { return controls[id].text; }
  void EnableControl(int id, bool enable) override { controls[id].enabled = enable; }
  bool IsControlEnabled(int id) override { return controls[id].enabled; }
  void SetCheck(int id, bool checked) override { controls[id].checked = checked; }
  bool GetCheck(int id) override { return controls[id].checked; }
  void LimitText(int id, int chars) override { controls[id].limit = chars; }
  void ComboReset(int) override {
    combo.clear();
    comboSel = -1;
  }
  void ComboAdd(int, const std::string& text) override {
    // A sorted combo box.
    combo.insert(std::upper_bound(combo.begin(), combo.end(), text), text);
  }
  void ComboSetSel(int, int index) override {
    comboSel = index >= 0 && index < static_cast<int>(combo.size()) ? index : -1;
  }
  int ComboGetSel(int) override { return comboSel; }
  void SetFocus(int id) override { focus = id; }
  void SetWaitCursor(bool wait) override { waitCursor = wait; }
  void SetIcon(IconHandle i) override { icon = i; }
  void RedrawAll() override { ++redraws; }
  void PumpOneMessage() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
  void EndDialog(int) override { ended = true; }
  bool AppendAboutItem(const std::string& text) override {
    if (!hasSystemMenu) return false;
    aboutItem = text;
    return true;
  }
  void EnableSystemMenuItem(int position, bool enable) override { systemMenu[position] = enable; }
  void ShowAboutBox(const std::string&, const std::string&, const std::string&) override {
    ++aboutShown;
  }
  bool IsDBCSLeadByte(unsigned char byte) override {
    return doubleByteCodePage && byte >= 0x81 && byte <= 0xFE;
  }
  void Sleep(std::uint32_t ms) override { sleeps.push_back(ms); }
  std::uint32_t GetTickCount() override { return ticks; }
  void NotifyShellChanged(const std::string& path) override { notified.push_back(path); }
  ProcessHandle StartHidden(const std::string& commandLine) override {
    if (startFails) return 0;
    started.push_back(commandLine);
    return 0x4000 + started.size();
  }
  WaitResult WaitForProcess(ProcessHandle, std::uint32_t timeoutMs) override {
    waitTimeouts.push_back(timeoutMs);
    return onWait ? onWait(started.back()) : WaitResult::Exited;
  }
  void TerminateProcess(ProcessHandle) override { ++terminated; }
  void CloseProcess(ProcessHandle) override {}
  std::string GetWindowsDirectoryA() override { return windowsDir; }
  std::string GetModuleFileNameA() override { return modulePath; }
  bool CanOpenForReading(const std::string& path) override {
    // The system ignores a trailing blank of a file name.
    std::string p = path;
    while (!p.empty() && p.back() == ' ') p.pop_back();
    return files.count(Key(p)) != 0;
  }
  bool WriteWholeFile(const std::string& path, const std::string& bytes) override {
    if (Key(path).find("READONLY") != std::string::npos) return false;
    files[Key(path)] = bytes;
    return true;
  }
  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override {
    statusDuringCopies.push_back(controls[1024].text);
    if (onCopy) onCopy(from, to);
    const std::string target = Key(to);
    if (target.size() > 7 && target.compare(target.size() - 7, 7, "\\FINISH") == 0 &&
        markerFailures > 0) {
      --markerFailures;
      return false;
    }
    auto it = files.find(Key(from));
    if (it == files.end()) return Fail(kErrorFileNotFound);
    if (failIfExists && files.count(target)) return Fail(kErrorFileExists);
    if (files.count(target)) {
      const std::uint32_t held = Attributes(target);
      if (const std::uint32_t refusal =
              fakes::CopyTargetRefusal((held & kAttrReadOnly) != 0, (held & kAttrHidden) != 0))
        return Fail(refusal);
    }
    if (std::find(failingCopies.begin(), failingCopies.end(), target) != failingCopies.end())
      return Fail(kErrorAccessDenied);
    files[target] = it->second;
    attributes[target] = Attributes(Key(from));  // the copy keeps the source's attributes
    copies.emplace_back(from, to);
    return true;
  }
  bool DeleteFileA(const std::string& path) override {
    deleted.push_back(path);
    const std::string key = Key(path);
    if (!files.count(key)) return Fail(kErrorFileNotFound);
    if (const std::uint32_t refusal = fakes::DeleteRefusal((Attributes(key) & kAttrReadOnly) != 0))
      return Fail(refusal);
    files.erase(key);
    attributes.erase(key);
    return true;
  }
  std::uint32_t Attributes(const std::string& key) const {
    auto it = attributes.find(key);
    return it == attributes.end() ? kAttrArchive : it->second;
  }

  static constexpr std::uint32_t kAttrReadOnly = 0x01;
  static constexpr std::uint32_t kAttrHidden = 0x02;
  static constexpr std::uint32_t kAttrArchive = 0x20;
  static constexpr std::uint32_t kErrorFileNotFound = 2;
  static constexpr std::uint32_t kErrorAccessDenied = 5;
  static constexpr std::uint32_t kErrorFileExists = 80;
  FindHandle FindFirstFileA(const std::string& pattern, FindEntry& entry) override {
    std::string folder = Key(pattern);
    const std::size_t slash = folder.rfind('\\');
    if (slash == std::string::npos || folder.substr(slash + 1) != "*.*") return 0;
    folder.erase(slash);
    auto it = folders.find(folder);
    if (it == folders.end() || it->second.empty()) return 0;
    searches_[++nextSearch_] = Search{&it->second, 1};
    entry = it->second.front();
    return nextSearch_;
  }
  bool FindNextFileA(FindHandle search, FindEntry& entry) override {
    auto it = searches_.find(search);
    if (it == searches_.end() || it->second.next >= it->second.list->size()) return false;
    entry = (*it->second.list)[it->second.next++];
    return true;
  }
  void FindClose(FindHandle search) override { searches_.erase(search); }

  int OpenSearches() const { return static_cast<int>(searches_.size()); }

 private:
  bool Fail(std::uint32_t error) {
    lastError = error;
    return false;
  }

 public:
 private:
  struct Search {
    const std::vector<FindEntry>* list;
    std::size_t next;
  };
  std::map<FindHandle, Search> searches_;
  FindHandle nextSearch_ = 0;
};

}  // namespace vornak::test

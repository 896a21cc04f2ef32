// Shared helpers of the FAT formatter tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format_ui.h"

namespace vornak::test {

inline std::uint32_t Le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
inline std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | (Le16(p + 2) << 16); }

// A FormatUi that records what it is shown and asked.
class RecordingFormatUi : public FormatUi {
 public:
  struct Box {
    std::string text, caption;
    std::uint32_t type;
  };
  std::vector<Box> boxes;
  // The progress reported, and the status lines a dialog with the default
  // texts makes of it.
  std::vector<PassProgress> progress;
  std::vector<std::string> statuses;
  int pumps = 0;
  bool running = true;
  // When >= 0: the running flag is cleared by the pump with this number (the
  // user confirming Stop while a message is dispatched).
  int stopAtPump = -1;
  // Status lines shown at each pump, to see what came before it.
  std::vector<std::size_t> statusesAtPump;

  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override {
    boxes.push_back({text, caption, type});
    return 1;
  }
  void PumpOneMessage() override {
    statusesAtPump.push_back(statuses.size());
    if (pumps == stopAtPump) running = false;
    ++pumps;
  }
  void ShowPassProgress(const PassProgress& p) override {
    progress.push_back(p);
    statuses.push_back(PassStatusText(FatTexts{}, p));
  }
  bool IsRunning() override { return running; }
};

}  // namespace vornak::test

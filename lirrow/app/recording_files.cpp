#include "duration.h"
#include "pipeline_platform.h"
#include "recording.h"

namespace lirrow {

namespace {

class HooksBridge final : public ExtractionHooks {
 public:
  explicit HooksBridge(RecordingFiles::Hooks& hooks) : hooks_(hooks) {}
  void OnStarted() override { hooks_.OnStarted(); }
  void OnPump() override { hooks_.OnPump(); }
  void OnFinished() override { hooks_.OnFinished(); }

 private:
  RecordingFiles::Hooks& hooks_;
};

class LibraryFiles final : public RecordingFiles {
 public:
  int ClassifyRecording(const std::wstring& path) override {
    return lirrow::ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       Hooks& hooks) override {
    HooksBridge bridge(hooks);
    return lirrow::ExtractBitstream(source, target, bridge);
  }
  double MeasureDuration(const std::wstring& path) override {
    return lirrow::MeasureDuration(path);
  }
};

}  // namespace

RecordingFiles& LibraryRecordingFiles() {
  static LibraryFiles files;
  return files;
}

}  // namespace lirrow

#include "duration.h"
#include "pipeline_platform.h"
#include "recording.h"

namespace lirrow {

namespace {

class LibraryFiles final : public RecordingFiles {
 public:
  RecordingKind ClassifyRecording(const std::wstring& path) override {
    return lirrow::ClassifyRecording(path);
  }
  int ExtractBitstream(const std::wstring& source, const std::wstring& target,
                       ExtractionHooks& hooks) override {
    return lirrow::ExtractBitstream(source, target, hooks);
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

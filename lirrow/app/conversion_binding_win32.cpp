#include "conversion_binding_win32.h"

#include "converter_app.h"
#include "pipeline_win32.h"

namespace lirrow {

// The main dialog as the pipeline's host.
class DialogHost final : public ConversionHost {
 public:
  DialogHost(ConverterDialog& dialog, HWND window) : dialog_(dialog), window_(window) {}

  void ShowMessage(const std::wstring& text, MessageIcon icon) override {
    dialog_.Window().ShowMessage(text, icon);
  }
  void* OwnerWindow() override { return window_; }
  const TextTable& Texts() override { return dialog_.Texts(); }
  unsigned LanguageId() override { return AppLanguage(); }
  const std::wstring& StartDirectory() override { return dialog_.StartDirectoryPath(); }

 private:
  ConverterDialog& dialog_;
  HWND window_;
};

struct PipelineConversions::Binding {
  std::unique_ptr<DialogHost> host;
  std::unique_ptr<Conversion> pipeline;
};

PipelineConversions::PipelineConversions() : binding_(std::make_unique<Binding>()) {}
PipelineConversions::~PipelineConversions() = default;

Conversion& PipelineConversions::For(ConverterDialog& dialog, HWND window) {
  if (!binding_->pipeline) {
    binding_->host = std::make_unique<DialogHost>(dialog, window);
    binding_->pipeline = CreateWin32Pipeline(*binding_->host);
  }
  return *binding_->pipeline;
}

}  // namespace lirrow

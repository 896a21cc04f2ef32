// Binds the main dialog's Start command to the conversion pipeline.
#pragma once

#include <memory>

#include "converter_dialog_win32.h"

namespace lirrow {

class PipelineConversions final : public ConversionFactory {
 public:
  PipelineConversions();
  ~PipelineConversions() override;
  Conversion& For(ConverterDialog& dialog, HWND window) override;

 private:
  struct Binding;
  std::unique_ptr<Binding> binding_;
};

}  // namespace lirrow

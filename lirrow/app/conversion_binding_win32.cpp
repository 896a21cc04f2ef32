#include "conversion_binding_win32.h"

namespace lirrow {

// Until the pipeline is linked in, Start finds no decoders.
struct PipelineConversions::Binding final : Conversion {
    bool CheckDecoders() override { return false; }
    bool ConvertRecording(const std::wstring&) override { return false; }
};

PipelineConversions::PipelineConversions() : binding_(std::make_unique<Binding>()) {}
PipelineConversions::~PipelineConversions() = default;

Conversion& PipelineConversions::For(ConverterDialog&, HWND) { return *binding_; }

}  // namespace lirrow

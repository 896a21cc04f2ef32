// The main dialog's window: template 102 bound to ConverterDialog.
#pragma once

#include <windows.h>

#include "converter_dialog.h"

namespace lirrow {

// Binds the dialog's Start command to the conversion. Given the dialog so
// that the conversion can use it as its host.
class ConversionFactory {
 public:
  virtual ~ConversionFactory() = default;
  virtual Conversion& For(ConverterDialog& dialog, HWND window) = 0;
};

// Runs the main dialog modally; returns the DialogBox result (-1 when the
// dialog, or the player control in it, could not be created).
INT_PTR RunConverterDialog(HINSTANCE instance, ConversionFactory& conversions);

// The window icon: the IconFile text as a 32x32 icon file when it names one,
// otherwise the icon of the first brand word in AboutIDC_STATIC2.
HICON ChooseWindowIcon(HINSTANCE instance, const TextTable& texts);

}  // namespace lirrow

// A reader of INI files that answers like GetPrivateProfileStringA, for the
// native build (Windows uses the system's own).
//
// Section and key names are matched case-insensitively and with surrounding
// blanks ignored; a value loses its surrounding blanks and one pair of matching
// quotes; the answer is cut to the buffer; a missing file, section or key gives
// the default (with its trailing blanks removed).
#pragma once

#include <cstdint>
#include <string>

namespace vornak {

// On the text of an INI file. Returns the number of characters copied to
// `out` (without the terminating zero), as GetPrivateProfileStringA does.
std::uint32_t IniGetString(const std::string& iniText, const char* section, const char* key,
                           const char* defaultText, char* out, std::uint32_t size);

// On a file; a file that cannot be read is an empty one.
std::uint32_t IniGetStringFromFile(const std::string& path, const char* section, const char* key,
                                   const char* defaultText, char* out, std::uint32_t size);

}  // namespace vornak

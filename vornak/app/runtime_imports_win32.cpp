// The formatter is an ANSI program, but the C and C++ runtime linked into it
// call three W functions of KERNEL32 (libgcc's semaphores, the msvcrt helpers
// of mingw-w64). On Windows 95/98/ME those are stubs that fail, so their
// import slots are defined here and served by the ANSI functions, which every
// supported Windows has. The runtime passes only ASCII names (or none).
//
// Linked straight into the program, not from a library: the linker takes
// these slots only when this object is already in the link when the
// runtime's libraries ask for them.
#if defined(__MINGW32__)
#include <windows.h>

#include <string>

namespace {

// `name` in the ANSI code page; false (with ERROR_INVALID_NAME) when it has
// a character that code page lacks.
bool AnsiName(LPCWSTR name, std::string* ansi) {
  BOOL substituted = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (length > 0) {
    ansi->assign(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, &(*ansi)[0], length, nullptr, &substituted) ==
            length &&
        !substituted) {
      return true;
    }
  }
  SetLastError(ERROR_INVALID_NAME);
  return false;
}

HANDLE WINAPI AnsiCreateSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                  LPCWSTR name) {
  if (!name) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
  std::string ansi;
  return AnsiName(name, &ansi) ? CreateSemaphoreA(attributes, initial, maximum, ansi.c_str())
                               : nullptr;
}

HMODULE WINAPI AnsiGetModuleHandle(LPCWSTR name) {
  if (!name) return GetModuleHandleA(nullptr);
  std::string ansi;
  return AnsiName(name, &ansi) ? GetModuleHandleA(ansi.c_str()) : nullptr;
}

HMODULE WINAPI AnsiLoadLibrary(LPCWSTR name) {
  std::string ansi;
  return name && AnsiName(name, &ansi) ? LoadLibraryA(ansi.c_str()) : nullptr;
}

}  // namespace

#if defined(__i386__)
#define VORNAK_IMPORT_SLOT(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define VORNAK_IMPORT_SLOT(name, argumentBytes) "__imp_" #name
#endif

extern "C" {
decltype(&::CreateSemaphoreW) vornakCreateSemaphoreW __asm__(
    VORNAK_IMPORT_SLOT(CreateSemaphoreW, 16)) = AnsiCreateSemaphore;
decltype(&::GetModuleHandleW) vornakGetModuleHandleW __asm__(
    VORNAK_IMPORT_SLOT(GetModuleHandleW, 4)) = AnsiGetModuleHandle;
decltype(&::LoadLibraryW) vornakLoadLibraryW __asm__(VORNAK_IMPORT_SLOT(LoadLibraryW,
                                                                        4)) = AnsiLoadLibrary;
}
#endif

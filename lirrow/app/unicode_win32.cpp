// Binding of the converter's Unicode calls: the table is filled from
// unicows.dll on Windows 95/98/ME and from the system DLLs on Windows NT.
//
// The binding may run before the program's start-up (the C and C++ runtime
// call some W functions during their own initialisation, see the end of this
// file), so it uses only ANSI calls and plain static data: no guarded
// statics, no allocation, nothing that could call back into the table.
#include "unicode_win32.h"

#include <string>

#include "file.h"

namespace lirrow {

namespace {

#if defined(LIRROW_TEST_SWITCHES)
constexpr char kForce9xVariable[] = "LIRROW_TEST_WINDOWS_9X";
#endif
constexpr char kLayerDll[] = "unicows.dll";

struct Binding {
  UnicodeCalls calls;
  UnicodeSource source = UnicodeSource::kSystem;
  const char* missing = nullptr;  // the first function unicows.dll lacks
  bool bound = false;
};

// Constant-initialised: ready before any constructor of the program runs.
Binding binding;

bool IsWindows9x() {
#if defined(LIRROW_TEST_SWITCHES)
  // Test tree only: the end-to-end tests take this branch under Wine.
  char value[4] = {};
  const DWORD length = GetEnvironmentVariableA(kForce9xVariable, value, sizeof value);
  if (length == 1 && value[0] == '1') return true;
#endif
  // The top bit of the version is set on the Windows 95 family only.
  return (GetVersion() & 0x80000000u) != 0;
}

HMODULE SystemDll(const char* name) {
  HMODULE module = GetModuleHandleA(name);
  return module ? module : LoadLibraryA(name);
}

template <typename Fn>
void Take(Fn& slot, FARPROC address) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

// Each entry from `layer` where it has the function, otherwise from its
// system DLL; `missing` names the first the layer lacks.
void Fill(UnicodeCalls& calls, HMODULE layer, const char** missing) {
#define LIRROW_UNICODE_FILL(dll, name)                                         \
  {                                                                            \
    FARPROC address = nullptr;                                                 \
    if (layer) {                                                               \
      address = GetProcAddress(layer, LIRROW_UNICODE_NAME(name));              \
      if (!address && !*missing) *missing = LIRROW_UNICODE_NAME(name);         \
    }                                                                          \
    if (!address) {                                                            \
      HMODULE system = SystemDll(#dll ".dll");                                 \
      if (system) address = GetProcAddress(system, LIRROW_UNICODE_NAME(name)); \
    }                                                                          \
    Take(calls.name, address);                                                 \
  }
  LIRROW_UNICODE_CALLS(LIRROW_UNICODE_FILL)
#undef LIRROW_UNICODE_FILL
}

}  // namespace

bool AnsiFileName(const std::wstring& path, std::string* name) {
  const int wide = static_cast<int>(path.size());
  const int length =
      WideCharToMultiByte(CP_ACP, 0, path.c_str(), wide, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  name->assign(static_cast<size_t>(length), '\0');
  BOOL substituted = FALSE;
  if (WideCharToMultiByte(CP_ACP, 0, path.c_str(), wide, &(*name)[0], length, nullptr,
                          &substituted) != length ||
      substituted) {
    return false;
  }
  // A best fit (the L-stroke as L) does not count as a default character:
  // only a name that converts back to itself is exact.
  wchar_t back[MAX_PATH + 1];
  const int backLength = MultiByteToWideChar(CP_ACP, 0, name->data(), length, back, MAX_PATH + 1);
  return backLength == wide && path.compare(0, path.size(), back, backLength) == 0;
}

UnicodeSource BindUnicodeCalls() {
  if (binding.bound) return binding.source;
  HMODULE layer = nullptr;
  if (IsWindows9x()) {
    layer = LoadLibraryA(kLayerDll);
    binding.source = layer ? UnicodeSource::kLayer : UnicodeSource::kLayerMissing;
  }
  Fill(binding.calls, layer, &binding.missing);
  if (binding.missing) binding.source = UnicodeSource::kLayerIncomplete;
  binding.bound = true;
  // The C runtime's wide opens call the system's W stubs on this family.
  if (binding.source != UnicodeSource::kSystem) UseNarrowFileNames(AnsiFileName);
  return binding.source;
}

const UnicodeCalls& Wide() {
  if (!binding.bound) BindUnicodeCalls();
  return binding.calls;
}

std::string UnicodeNotice(UnicodeSource source) {
  switch (source) {
    case UnicodeSource::kLayerMissing:
      return "Lirrow needs the Microsoft Layer for Unicode (unicows.dll) on Windows 95, 98 and "
             "Me.\nCopy unicows.dll into the Lirrow folder and start Lirrow again.";
    case UnicodeSource::kLayerIncomplete:
      return std::string("The Microsoft Layer for Unicode (unicows.dll) in use lacks ") +
             binding.missing +
             ", which Lirrow needs.\nCopy the current unicows.dll into the Lirrow folder and "
             "start Lirrow again.";
    default: return std::string();
  }
}

}  // namespace lirrow

#if defined(__MINGW32__)
// The runtime's own W calls (libgcc's thread primitives, the msvcrt helpers
// of mingw-w64) would be imported from KERNEL32 directly. Defining their
// import slots here makes the linker take these instead, so that they too go
// through the table.
extern "C" {

static HANDLE WINAPI RuntimeCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial,
                                             LONG maximum, LPCWSTR name) {
  return lirrow::Wide().CreateSemaphoreW(attributes, initial, maximum, name);
}

static HMODULE WINAPI RuntimeGetModuleHandleW(LPCWSTR name) {
  return lirrow::Wide().GetModuleHandleW(name);
}

static HMODULE WINAPI RuntimeLoadLibraryW(LPCWSTR name) {
  return lirrow::Wide().LoadLibraryW(name);
}

static VOID WINAPI RuntimeGetStartupInfoW(LPSTARTUPINFOW info) {
  lirrow::Wide().GetStartupInfoW(info);
}

#if defined(__i386__)
#define LIRROW_IMPORT_SLOT(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define LIRROW_IMPORT_SLOT(name, argumentBytes) "__imp_" #name
#endif

decltype(&::CreateSemaphoreW) runtimeCreateSemaphoreW __asm__(
    LIRROW_IMPORT_SLOT(CreateSemaphoreW, 16)) = RuntimeCreateSemaphoreW;
decltype(&::GetModuleHandleW) runtimeGetModuleHandleW __asm__(
    LIRROW_IMPORT_SLOT(GetModuleHandleW, 4)) = RuntimeGetModuleHandleW;
decltype(&::LoadLibraryW) runtimeLoadLibraryW __asm__(LIRROW_IMPORT_SLOT(LoadLibraryW,
                                                                         4)) = RuntimeLoadLibraryW;
decltype(&::GetStartupInfoW) runtimeGetStartupInfoW __asm__(
    LIRROW_IMPORT_SLOT(GetStartupInfoW, 4)) = RuntimeGetStartupInfoW;
}
#endif

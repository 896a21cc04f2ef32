// A stand-in for the Microsoft Layer for Unicode (unicows.dll), for tests of
// the converter's Windows 95/98/ME branch under Wine. It exports every W
// function of the converter's table under the name GetProcAddress looks up,
// forwards each call unchanged to the same function of the system DLL, and
// appends the function's name, one line per call, to the file named by the
// environment variable UNICOWS_STANDIN_LOG (no log when it is unset).
//
// The forwarders know no signatures: each export is a few instructions of
// assembly that saves the argument registers, asks StandinResolve (which logs
// the call and returns the real function's address) and jumps to the real
// function with the caller's stack and registers as they were on entry, so
// the real function returns straight to the caller with its own result and
// last error. GCC/Clang only (top-level asm), like the rest of the test tree.
//
// UNICOWS_STANDIN_OMIT=NAME (and UNICOWS_STANDIN_OMIT_ALSO=NAME) build a
// variant that lacks those exports, for the tests of an incomplete Layer for
// Unicode.
#include "unicode_win32.h"

#include <windows.h>

#include <initializer_list>

#define STANDIN_STR(x) STANDIN_STR_(x)
#define STANDIN_STR_(x) #x

// One per export: where the real function lives, and its address once found
// (on its first call; two threads that race store the same address). The
// forwarders refer to these by their unexpanded names.
struct StandinEntry {
  const char* dll;   // the system DLL that exports the real function
  const char* name;  // the exported name, as the DLLs spell it
  void* volatile real;
};

#define STANDIN_ENTRY(dll, name) \
  StandinEntry StandinEntry_##name = {#dll ".dll", LIRROW_UNICODE_NAME(name), nullptr};
extern "C" {
LIRROW_UNICODE_CALLS(STANDIN_ENTRY)
}
#undef STANDIN_ENTRY

namespace {

// The log file: nullptr until the first call looks, INVALID_HANDLE_VALUE when
// there is none.
HANDLE volatile g_log = nullptr;

// Held while a line is written: Wine's appends of two threads at once can
// land at the same offset, and one line is lost.
LONG volatile g_writing = 0;

HANDLE OpenLog() {
  HANDLE log = g_log;
  if (log != nullptr) return log;
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("UNICOWS_STANDIN_LOG", path, sizeof path);
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (n > 0 && n < sizeof path) {
    // Append-only access: every line lands at the end of the file, after
    // what earlier runs wrote.
    opened = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  log = InterlockedCompareExchangePointer(const_cast<void**>(&g_log), opened, nullptr);
  if (log != nullptr) {  // another thread was first
    if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
    return log;
  }
  return opened;
}

void LogLine(const char* name, const char* tail) {
  HANDLE log = OpenLog();
  if (log == INVALID_HANDLE_VALUE) return;
  char line[128];
  DWORD len = 0;
  for (const char* part : {name, tail, "\n"}) {
    while (*part && len < sizeof line) line[len++] = *part++;
  }
  DWORD written;
  while (InterlockedExchange(&g_writing, 1) != 0) Sleep(0);
  WriteFile(log, line, len, &written, nullptr);
  InterlockedExchange(&g_writing, 0);
}

}  // namespace

// Called by every forwarder with its entry: logs the call and returns the
// address of the real function. Keeps the caller's last error, which the
// logging would otherwise overwrite (OPEN_ALWAYS sets ERROR_ALREADY_EXISTS,
// for one): a caller may have set it on purpose (SetLastError(0) before
// SetWindowLongPtr), and it must see only what the real function sets. A
// function the system lacks ends the process, as the loader would have.
extern "C" void* StandinResolve(StandinEntry* f) {
  const DWORD error = GetLastError();
  LogLine(f->name, "");
  void* real = f->real;
  if (real == nullptr) {
    HMODULE dll = LoadLibraryA(f->dll);
    real = dll ? reinterpret_cast<void*>(GetProcAddress(dll, f->name)) : nullptr;
    if (real == nullptr) {
      LogLine(f->name, " is missing from the system DLL");
      ExitProcess(0xC0000139);  // STATUS_ENTRYPOINT_NOT_FOUND
    }
    f->real = real;
  }
  SetLastError(error);
  return real;
}

#ifndef UNICOWS_STANDIN_OMIT
#define UNICOWS_STANDIN_OMIT none
#endif
#ifndef UNICOWS_STANDIN_OMIT_ALSO
#define UNICOWS_STANDIN_OMIT_ALSO none
#endif

#define STANDIN_SYMBOL(name) STANDIN_STR(__USER_LABEL_PREFIX__) LIRROW_UNICODE_NAME(name)
#define STANDIN_RESOLVE STANDIN_STR(__USER_LABEL_PREFIX__) "StandinResolve"
// The entry's symbol; STANDIN_FORWARDER appends the unexpanded name itself.
#define STANDIN_ENTRY_OF STANDIN_STR(__USER_LABEL_PREFIX__) "StandinEntry_"

// clang-format off
// The export directive for the linker (what __declspec(dllexport) makes),
// left out for the omitted names.
#define STANDIN_EXPORT(name)                                                          \
  ".ifnc " LIRROW_UNICODE_NAME(name) "," STANDIN_STR(UNICOWS_STANDIN_OMIT) "\n"      \
  ".ifnc " LIRROW_UNICODE_NAME(name) "," STANDIN_STR(UNICOWS_STANDIN_OMIT_ALSO) "\n" \
  ".section .drectve\n"                                                               \
  ".ascii \" -export:" LIRROW_UNICODE_NAME(name) "\"\n"                               \
  ".text\n"                                                                           \
  ".endif\n"                                                                          \
  ".endif\n"

#define STANDIN_LABEL(name)                                    \
  ".text\n"                                                    \
  ".globl " STANDIN_SYMBOL(name) "\n"                          \
  ".def " STANDIN_SYMBOL(name) "; .scl 2; .type 32; .endef\n"

#if defined(__x86_64__)
// Entry: the four register arguments in rcx, rdx, r8, r9 (and xmm0-xmm3 for
// floating point), further arguments on the stack above the return address
// and the caller's 32-byte home area. The register arguments are saved in
// that home area (it is there for this) and the xmm ones in our own frame,
// which also gives StandinResolve its home area and keeps rsp 16-byte
// aligned at the call. Unwind data describes the frame while it exists.
#define STANDIN_FORWARDER(dll, name)                 \
  asm(STANDIN_LABEL(name)                            \
      ".seh_proc " STANDIN_SYMBOL(name) "\n"         \
      STANDIN_SYMBOL(name) ":\n"                     \
      "  movq %rcx, 8(%rsp)\n"                       \
      "  movq %rdx, 16(%rsp)\n"                      \
      "  movq %r8, 24(%rsp)\n"                       \
      "  movq %r9, 32(%rsp)\n"                       \
      "  subq $0x68, %rsp\n"                         \
      "  .seh_stackalloc 0x68\n"                     \
      "  .seh_endprologue\n"                         \
      "  movaps %xmm0, 0x20(%rsp)\n"                 \
      "  movaps %xmm1, 0x30(%rsp)\n"                 \
      "  movaps %xmm2, 0x40(%rsp)\n"                 \
      "  movaps %xmm3, 0x50(%rsp)\n"                 \
      "  leaq " STANDIN_ENTRY_OF #name "(%rip), %rcx\n" \
      "  call " STANDIN_RESOLVE "\n"                 \
      "  movaps 0x20(%rsp), %xmm0\n"                 \
      "  movaps 0x30(%rsp), %xmm1\n"                 \
      "  movaps 0x40(%rsp), %xmm2\n"                 \
      "  movaps 0x50(%rsp), %xmm3\n"                 \
      "  addq $0x68, %rsp\n"                         \
      "  movq 8(%rsp), %rcx\n"                       \
      "  movq 16(%rsp), %rdx\n"                      \
      "  movq 24(%rsp), %r8\n"                       \
      "  movq 32(%rsp), %r9\n"                       \
      "  jmp *%rax\n"                                \
      ".seh_endproc\n"                               \
      STANDIN_EXPORT(name));
#elif defined(__i386__)
// Entry: all arguments on the stack above the return address (stdcall: the
// callee pops them, so the stack must reach it exactly as it came). ecx and
// edx are kept only for safety: no W function takes arguments in registers.
// StandinResolve is cdecl: we pop its argument.
#define STANDIN_FORWARDER(dll, name)                 \
  asm(STANDIN_LABEL(name)                            \
      STANDIN_SYMBOL(name) ":\n"                     \
      "  pushl %ecx\n"                               \
      "  pushl %edx\n"                               \
      "  pushl $" STANDIN_ENTRY_OF #name "\n"        \
      "  call " STANDIN_RESOLVE "\n"                 \
      "  addl $4, %esp\n"                            \
      "  popl %edx\n"                                \
      "  popl %ecx\n"                                \
      "  jmp *%eax\n"                                \
      STANDIN_EXPORT(name));
#else
#error "the unicows stand-in is written for i686 and x86_64"
#endif
// clang-format on

LIRROW_UNICODE_CALLS(STANDIN_FORWARDER)

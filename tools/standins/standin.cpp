// Stand-in for the converter's external tools, built once per tool name:
//
//   decoder (Vrn_dec.exe, QL8_Dec.exe, QL4_Dec.exe):  TOOL "INPUT" "OUTPUT.wav"
//     writes a WAV file of 8 kHz, 16-bit mono (16,000 bytes per second)
//     derived from the input: every input byte becomes 8 samples of the value
//     (byte - 128) * 64, so the data part holds 16 bytes per input byte.
//   encoder (sqenc.exe):  TOOL -b 32 "INPUT.wav" "OUTPUT.mp3"
//     writes a stream of silent MPEG-1 Layer III frames at 32 kbit/s and
//     32 kHz (144 bytes, 36 ms each), as many as the input's length at
//     16,000 bytes per second calls for (header bytes included, as the
//     converter measures a WAV file).
//
// Every run appends one line to "standins.log" beside the program: the tool
// name and its arguments separated by '|'.
//
// A control file beside the program, named after it with ".ctl" in place of
// ".exe" (Vrn_dec.ctl, sqenc.ctl, ...), changes what a run does. It holds
// words and values separated by blanks or line breaks:
//   sleep S        run S seconds (a decimal) before doing anything else
//   exit N         end with exit code N after the output was written
//                  (N = 262 is the decoders' abandon code)
//   fail N         end with exit code N without writing any output
//   mp3-offset S   (encoder) write S seconds more (or less, when negative)
//                  than the input's length
//   signal N       end by signal N (for instance 9 or 15) after the output
//                  was written, as a tool that is killed while it works
//   once           delete the control file after reading it, so that only
//                  this run is affected
//   hold           (Windows) show a small window captioned "<tool> stand-in"
//                  and go on only when it is closed (WM_CLOSE), at most 60 s:
//                  lets a test end the run at a moment of its choosing
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef STANDIN_NAME
#error "STANDIN_NAME must name the tool"
#endif

namespace {

struct Control {
  double sleepSeconds = 0;
  int exitCode = 0;
  bool fail = false;
  double mp3Offset = 0;
  bool hold = false;
  int signal = 0;
};

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

char Separator(const std::string& path) {
  return path.find('\\') != std::string::npos ? '\\' : '/';
}

Control ReadControl(const std::string& directory, char separator) {
  Control control;
  std::string name = STANDIN_NAME;
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(0, dot);
  const std::string path = directory + separator + name + ".ctl";
  std::ifstream in(path);
  if (!in) return control;
  bool once = false;
  std::string word;
  while (in >> word) {
    if (word == "sleep")
      in >> control.sleepSeconds;
    else if (word == "exit")
      in >> control.exitCode;
    else if (word == "fail") {
      control.fail = true;
      in >> control.exitCode;
    } else if (word == "mp3-offset")
      in >> control.mp3Offset;
    else if (word == "signal")
      in >> control.signal;
    else if (word == "once")
      once = true;
    else if (word == "hold")
      control.hold = true;
  }
  in.close();
  if (once) std::remove(path.c_str());
  return control;
}

void Log(const std::string& directory, char separator, int argc, char** argv) {
  std::ofstream log(directory + separator + "standins.log", std::ios::app | std::ios::binary);
  log << STANDIN_NAME;
  for (int i = 1; i < argc; ++i) log << '|' << argv[i];
  log << '\n';
}

// Waits until the test closes the window "<tool> stand-in" (at most 60 s).
void Hold() {
#ifdef _WIN32
  const std::string caption = std::string(STANDIN_NAME) + " stand-in";
  // Visible (so a test finds it) but off the screen and never activated,
  // so it neither covers nor takes the focus from the windows under test.
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "STATIC", caption.c_str(),
                                WS_POPUP | WS_CAPTION, -3000, -3000, 160, 40, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (!window) return;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  const DWORD until = GetTickCount() + 60000;
  MSG message;
  while (GetTickCount() < until) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.hwnd == window && message.message == WM_CLOSE) {
        DestroyWindow(window);
        return;
      }
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  DestroyWindow(window);
#endif
}

void PutLE(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

[[maybe_unused]] int Decode(const char* input, const char* output) {
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", STANDIN_NAME, input);
    return 2;
  }
  std::vector<unsigned char> source((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(source.size()) * 16;
  std::vector<unsigned char> wav;
  wav.reserve(44 + dataBytes);
  wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
  PutLE(wav, 36 + dataBytes, 4);
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLE(wav, 16, 4);
  PutLE(wav, 1, 2);      // PCM
  PutLE(wav, 1, 2);      // mono
  PutLE(wav, 8000, 4);   // samples per second
  PutLE(wav, 16000, 4);  // bytes per second
  PutLE(wav, 2, 2);      // block align
  PutLE(wav, 16, 2);     // bits per sample
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  PutLE(wav, dataBytes, 4);
  for (unsigned char byte : source) {
    const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>((byte - 128) * 64));
    for (int i = 0; i < 8; ++i) PutLE(wav, sample, 2);
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
  if (!out) {
    std::fprintf(stderr, "%s: cannot write %s\n", STANDIN_NAME, output);
    return 3;
  }
  return 0;
}

[[maybe_unused]] int Encode(const char* input, const char* output, double offsetSeconds) {
  std::ifstream in(input, std::ios::binary | std::ios::ate);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", STANDIN_NAME, input);
    return 2;
  }
  const double seconds = static_cast<double>(in.tellg()) / 16000.0 + offsetSeconds;
  constexpr double kFrameSeconds = 1152.0 / 32000.0;
  const long frames = seconds > 0 ? std::lround(seconds / kFrameSeconds) : 0;
  // MPEG-1 Layer III, no CRC, 32 kbit/s, 32 kHz, no padding, mono; the
  // side information and main data are zero: silence.
  unsigned char frame[144] = {0xFF, 0xFB, 0x18, 0xC0};
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  for (long i = 0; i < frames && out; ++i)
    out.write(reinterpret_cast<const char*>(frame), sizeof frame);
  if (!out) {
    std::fprintf(stderr, "%s: cannot write %s\n", STANDIN_NAME, output);
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string self = argc > 0 ? argv[0] : "";
  const char separator = Separator(self);
  const std::string directory = DirectoryOf(self);
  Log(directory, separator, argc, argv);
  const Control control = ReadControl(directory, separator);
  if (control.sleepSeconds > 0)
    std::this_thread::sleep_for(
        std::chrono::milliseconds(static_cast<long>(control.sleepSeconds * 1000)));
  if (control.hold) Hold();
  if (control.fail) return control.exitCode;

#if STANDIN_ENCODER
  if (argc != 5 || std::strcmp(argv[1], "-b") != 0 || std::strcmp(argv[2], "32") != 0) {
    std::fprintf(stderr, "usage: %s -b 32 INPUT.wav OUTPUT.mp3\n", STANDIN_NAME);
    return 1;
  }
  const int result = Encode(argv[3], argv[4], control.mp3Offset);
#else
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT.wav\n", STANDIN_NAME);
    return 1;
  }
  const int result = Decode(argv[1], argv[2]);
#endif
  if (result == 0 && control.signal > 0) {
    std::signal(control.signal, SIG_DFL);
    std::raise(control.signal);
  }
  return result != 0 ? result : control.exitCode;
}

#include "recording.h"

#include <cstring>

#include "file.h"

namespace lirrow {

namespace {

constexpr int64_t kBlockSize = 512;

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

RecordingKind KindOfFirstByte(unsigned char firstByte) {
    switch (firstByte) {
        case 0x05: return kRecordingByte05;
        case 0x04: return kRecordingByte04;
        case 0x03: return kRecordingByte03;
        case 0x80: return kRecordingByte80;
        case 0x81: return kRecordingByte81;
        case 0x40:
        case 0x41: return kRecordingByte40or41;
        default: return kRecordingUnsupported;
    }
}

RecordingKind ClassifyRecording(const std::wstring& path) {
    File file;
    if (!file.OpenRead(path, File::Share::kReadWrite)) return kRecordingUnsupported;
    unsigned char first = 0;
    if (file.Read(&first, 1) != 1) return kRecordingUnsupported;
    return KindOfFirstByte(first);
}

bool HasRecordingExtension(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    const size_t start = dot == std::wstring::npos ? 0 : dot + 1;
    if (path.size() - start != 3) return false;
    wchar_t ext[3];
    for (size_t i = 0; i < 3; ++i) ext[i] = AsciiLower(path[start + i]);
    static const wchar_t* const kExtensions[] = {L"ovk", L"rcd", L"rec"};
    for (const wchar_t* known : kExtensions) {
        if (ext[0] == known[0] && ext[1] == known[1] && ext[2] == known[2]) return true;
    }
    return false;
}

int ExtractBitstream(const std::wstring& source, const std::wstring& target, ExtractionHooks& hooks) {
    File in;
    if (!in.OpenRead(source, File::Share::kReadWrite)) return kExtractSourceOpenFailed;
    File out;
    if (!out.Create(target)) return kExtractTargetCreateFailed;

    const int64_t size = in.Size();
    unsigned char first = 0;
    const bool haveFirst = in.Read(&first, 1) == 1;

    // n is half a frame: frames are 2n bytes, two n-byte halves to interleave.
    int n = 0;
    int framesPerBlock = 0;
    if (haveFirst && (first == 0x80 || first == 0x81)) {
        n = 5;
        framesPerBlock = 51;
    } else if (haveFirst && (first == 0x40 || first == 0x41 || first == 0x50)) {
        n = 11;
        framesPerBlock = 23;
    } else {
        in.Close();
        out.Close();
        return kExtractNotFramed;
    }
    const bool pump = n == 5;
    const int frameSize = 2 * n;
    const size_t streamBytes = static_cast<size_t>(framesPerBlock * frameSize);

    in.SeekTo(kBlockSize);
    hooks.OnStarted();
    if (size < 0) return kExtractShortBlock;

    unsigned char block[kBlockSize];
    unsigned char scratch[22];
    const int64_t blocks = (size - kBlockSize) / kBlockSize;
    for (int64_t b = 0; b < blocks; ++b) {
        if (in.Read(block, kBlockSize) != static_cast<size_t>(kBlockSize)) return kExtractShortBlock;
        unsigned char* frame = block;
        for (int f = 0; f < framesPerBlock; ++f, frame += frameSize) {
            for (int i = 0; i < n; ++i) {
                scratch[2 * i] = frame[i];
                scratch[2 * i + 1] = frame[n + i];
                if (pump) hooks.OnPump();
            }
            std::memcpy(frame, scratch, static_cast<size_t>(frameSize));
        }
        if (!out.Write(block, streamBytes)) return kExtractWriteFailed;
    }

    in.Close();
    if (!out.Close()) return kExtractWriteFailed;
    hooks.OnFinished();
    return kExtractOk;
}

}  // namespace lirrow

// A small binary file with its own read and write buffers, used by the
// recording and duration code.
//
// Paths are std::wstring in both builds: on Windows they are UTF-16 and are
// opened with _wfsopen, so names outside the ANSI code page work (on Windows
// 95/98/ME they are converted, see UseNarrowFileNames); natively
// they hold Unicode code points and are opened as UTF-8 names, except the
// escapes of NameFromBytes (utf8.h), which stand for a name's own bytes.
//
// Reads go through a read-ahead buffer so that reading 4 bytes, stepping
// back 3 and reading again costs no system call; seeks inside the buffer only
// move the position. Writes are collected and written in large pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lirrow {

#ifdef _WIN32
// On Windows 95/98/ME the C runtime's wide opens call the system's W stubs,
// which fail, so the program's start-up hands File a conversion of names to
// the ANSI code page; File then opens the converted name narrow, and a name
// the conversion refuses does not open. Without one (the default) names are
// opened wide.
using NarrowName = bool (*)(const std::wstring& path, std::string* name);
void UseNarrowFileNames(NarrowName convert);
#endif

class File {
 public:
  // Who else may use the file while it is open for reading (honoured on
  // Windows; POSIX has no share modes).
  enum class Share { kReadWrite, kRead };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file for binary reading.
  bool OpenRead(const std::wstring& path, Share share = Share::kReadWrite);
  // Creates (or truncates) a file for binary writing.
  bool Create(const std::wstring& path);
  bool IsOpen() const { return file_ != nullptr; }

  // Reads up to `count` bytes at the current position; returns how many
  // were read (fewer only at the end of the file or on a read error).
  size_t Read(void* buffer, size_t count);
  // Appends `count` bytes; false when they could not all be written.
  bool Write(const void* buffer, size_t count);

  // Moves the read position. A position before the start fails and leaves
  // the position where it was; a position past the end is allowed (reads
  // there deliver nothing).
  bool SeekTo(int64_t offset);
  bool SeekBy(int64_t delta) { return SeekTo(position_ + delta); }
  int64_t Position() const { return position_; }

  // The file's size in bytes, -1 when it cannot be taken.
  int64_t Size();

  // Writes what is pending and closes; false when a write failed now or
  // earlier. Closing a closed file returns true.
  bool Close();

  // Bytes handed out by Read and bytes fetched from the system, for tests.
  uint64_t BytesDelivered() const { return delivered_; }
  uint64_t BytesFetched() const { return fetched_; }

 private:
  bool Fill();
  bool FlushWrites();

  static constexpr size_t kBufferSize = 64 * 1024;
  // Bytes kept before the read position when the buffer is refilled, so
  // that a short step back after a sequential read stays in the buffer.
  static constexpr size_t kKeepBehind = 16;

  std::FILE* file_ = nullptr;
  unsigned char* buffer_ = nullptr;  // kBufferSize bytes while open
  bool writing_ = false;
  bool writeFailed_ = false;
  int64_t position_ = 0;        // logical position
  int64_t bufferStart_ = 0;     // file offset of buffer_[0] (reading)
  size_t bufferLength_ = 0;     // valid bytes in buffer_ (reading) or pending (writing)
  int64_t systemPosition_ = 0;  // where the FILE's own position is (reading)
  uint64_t delivered_ = 0;
  uint64_t fetched_ = 0;
};

}  // namespace lirrow

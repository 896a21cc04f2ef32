#include "file.h"

#include "utf8.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>

#ifdef _WIN32
#include <share.h>
#endif

namespace lirrow {

namespace {

#ifdef _WIN32
NarrowName narrowName = nullptr;

std::FILE* OpenPath(const std::wstring& path, const wchar_t* mode, int shareFlag) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return nullptr;
  if (!narrowName) return _wfsopen(path.c_str(), mode, shareFlag);
  std::string name;
  if (!narrowName(path, &name) || name.empty()) return nullptr;
  const std::string narrowMode(mode, mode + std::wcslen(mode));
  return _fsopen(name.c_str(), narrowMode.c_str(), shareFlag);
}

bool SeekSystem(std::FILE* file, int64_t offset, int origin) {
  return _fseeki64(file, offset, origin) == 0;
}

int64_t TellSystem(std::FILE* file) { return _ftelli64(file); }
#else
std::FILE* OpenPath(const std::wstring& path, const char* mode) {
  bool valid = false;
  const std::string name = NameBytes(path, &valid);
  if (!valid || name.empty()) return nullptr;
  // POSIX opens a folder for reading; Windows does not, and neither do we.
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) return nullptr;
  return std::fopen(name.c_str(), mode);
}

bool SeekSystem(std::FILE* file, int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellSystem(std::FILE* file) { return ftello(file); }
#endif

}  // namespace

#ifdef _WIN32
void UseNarrowFileNames(NarrowName convert) { narrowName = convert; }
#endif

File::~File() { Close(); }

bool File::OpenRead(const std::wstring& path, Share share) {
  Close();
#ifdef _WIN32
  file_ = OpenPath(path, L"rb", share == Share::kRead ? _SH_DENYWR : _SH_DENYNO);
#else
  (void)share;
  file_ = OpenPath(path, "rb");
#endif
  if (!file_) return false;
  // The file is read through buffer_ only.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  buffer_ = new unsigned char[kBufferSize];
  writing_ = false;
  return true;
}

bool File::Create(const std::wstring& path) {
  Close();
#ifdef _WIN32
  file_ = OpenPath(path, L"wb", _SH_DENYNO);
#else
  file_ = OpenPath(path, "wb");
#endif
  if (!file_) return false;
  std::setvbuf(file_, nullptr, _IONBF, 0);
  buffer_ = new unsigned char[kBufferSize];
  writing_ = true;
  return true;
}

bool File::Fill() {
  size_t keep = 0;
  if (bufferLength_ > 0 && position_ == bufferStart_ + static_cast<int64_t>(bufferLength_)) {
    keep = std::min(kKeepBehind, bufferLength_);
    std::memmove(buffer_, buffer_ + bufferLength_ - keep, keep);
  }
  if (systemPosition_ != position_) {
    if (!SeekSystem(file_, position_, SEEK_SET)) {
      bufferLength_ = 0;
      return false;
    }
    systemPosition_ = position_;
  }
  const size_t got = std::fread(buffer_ + keep, 1, kBufferSize - keep, file_);
  std::clearerr(file_);
  systemPosition_ += static_cast<int64_t>(got);
  fetched_ += got;
  bufferStart_ = position_ - static_cast<int64_t>(keep);
  bufferLength_ = keep + got;
  return got > 0;
}

size_t File::Read(void* buffer, size_t count) {
  if (!file_ || writing_) return 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const int64_t end = bufferStart_ + static_cast<int64_t>(bufferLength_);
    if (position_ >= bufferStart_ && position_ < end) {
      const size_t offset = static_cast<size_t>(position_ - bufferStart_);
      const size_t n = std::min(count - done, bufferLength_ - offset);
      std::memcpy(out + done, buffer_ + offset, n);
      position_ += static_cast<int64_t>(n);
      done += n;
      continue;
    }
    if (!Fill()) break;
  }
  delivered_ += done;
  return done;
}

bool File::FlushWrites() {
  if (bufferLength_ > 0 && !writeFailed_) {
    if (std::fwrite(buffer_, 1, bufferLength_, file_) != bufferLength_) writeFailed_ = true;
  }
  bufferLength_ = 0;
  return !writeFailed_;
}

bool File::Write(const void* buffer, size_t count) {
  if (!file_ || !writing_ || writeFailed_) return false;
  const unsigned char* in = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    if (bufferLength_ == kBufferSize && !FlushWrites()) return false;
    const size_t n = std::min(count, kBufferSize - bufferLength_);
    std::memcpy(buffer_ + bufferLength_, in, n);
    bufferLength_ += n;
    in += n;
    count -= n;
  }
  return true;
}

bool File::SeekTo(int64_t offset) {
  if (!file_ || writing_ || offset < 0) return false;
  position_ = offset;
  return true;
}

int64_t File::Size() {
  if (!file_ || writing_) return -1;
  if (!SeekSystem(file_, 0, SEEK_END)) return -1;
  const int64_t size = TellSystem(file_);
  systemPosition_ = size;
  return size < 0 ? -1 : size;
}

bool File::Close() {
  if (!file_) return true;
  bool ok = true;
  if (writing_) ok = FlushWrites();
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  delete[] buffer_;
  buffer_ = nullptr;
  writing_ = false;
  writeFailed_ = false;
  position_ = bufferStart_ = systemPosition_ = 0;
  bufferLength_ = 0;
  return ok;
}

}  // namespace lirrow

#include "posix_file_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vornak::bench {

DiskHandle PosixFilePlatform::CreateFileA(const char* name, std::uint32_t access, std::uint32_t,
                                          std::uint32_t, std::uint32_t) {
  if (std::strcmp(name, "\\\\.\\E:") != 0) {
    lastError_ = 2;
    return kInvalidHandle;
  }
  const int mode = (access & win::GENERIC_WRITE) ? O_RDWR : O_RDONLY;
  const int fd = ::open(path_.c_str(), mode);
  if (fd < 0) {
    lastError_ = 2;
    return kInvalidHandle;
  }
  return static_cast<DiskHandle>(fd);
}

bool PosixFilePlatform::CloseHandle(DiskHandle h) { return ::close(static_cast<int>(h)) == 0; }

std::uint32_t PosixFilePlatform::SetFilePointer(DiskHandle h, std::int32_t distance,
                                                std::uint32_t) {
  const off_t at = ::lseek(static_cast<int>(h),
                           static_cast<off_t>(static_cast<std::uint32_t>(distance)), SEEK_SET);
  return at < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(at);
}

bool PosixFilePlatform::ReadFile(DiskHandle h, void* buffer, std::uint32_t size,
                                 std::uint32_t* done) {
  const ssize_t n = ::read(static_cast<int>(h), buffer, size);
  *done = n < 0 ? 0 : static_cast<std::uint32_t>(n);
  return n >= 0;
}

bool PosixFilePlatform::WriteFile(DiskHandle h, const void* buffer, std::uint32_t size,
                                  std::uint32_t* done) {
  const ssize_t n = ::write(static_cast<int>(h), buffer, size);
  *done = n < 0 ? 0 : static_cast<std::uint32_t>(n);
  return n >= 0;
}

bool PosixFilePlatform::FlushFileBuffers(DiskHandle h) {
  ++flushes_;
  if (!flush_) return true;
  return ::fdatasync(static_cast<int>(h)) == 0;
}

}  // namespace vornak::bench

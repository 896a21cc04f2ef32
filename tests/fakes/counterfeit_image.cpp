#include "counterfeit_image.h"

#include <algorithm>
#include <cstring>

namespace vornak::test {
namespace {

class CounterfeitImage : public DiskImage {
 public:
  CounterfeitImage(std::shared_ptr<DiskImage> real, std::uint64_t capacity, PastCapacity kind)
      : real_(std::move(real)), capacity_(capacity), kind_(kind) {}

  bool Read(std::uint64_t offset, void* out, std::uint32_t size) override {
    return Each(offset, static_cast<std::uint8_t*>(out), size, false);
  }
  bool Write(std::uint64_t offset, const void* in, std::uint32_t size) override {
    return Each(offset, static_cast<std::uint8_t*>(const_cast<void*>(in)), size, true);
  }

 private:
  // The transfer cut where it crosses a multiple of the capacity.
  bool Each(std::uint64_t offset, std::uint8_t* p, std::uint32_t size, bool write) {
    while (size > 0) {
      const std::uint64_t at = offset % capacity_;
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, capacity_ - at));
      const bool real = offset < capacity_ || kind_ == PastCapacity::Wrap ||
                        (!write && kind_ == PastCapacity::AliasReads);
      if (real && !(write ? real_->Write(at, p, n) : real_->Read(at, p, n))) return false;
      if (!real && !write) std::memset(p, 0xFF, n);
      offset += n;
      p += n;
      size -= n;
    }
    return true;
  }

  std::shared_ptr<DiskImage> real_;
  std::uint64_t capacity_;
  PastCapacity kind_;
};

}  // namespace

std::shared_ptr<DiskImage> MakeCounterfeitImage(std::shared_ptr<DiskImage> real,
                                                std::uint64_t capacityBytes, PastCapacity kind) {
  return std::make_shared<CounterfeitImage>(std::move(real), capacityBytes, kind);
}

}  // namespace vornak::test

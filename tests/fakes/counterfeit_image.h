// A disk that claims more than it holds, as counterfeit sticks and cards
// are made: past its real capacity a write wraps onto an earlier address or
// is lost, and a read returns an earlier address's bytes or all ones.
#pragma once

#include <cstdint>
#include <memory>

#include "fake_machine.h"

namespace vornak::test {

enum class PastCapacity {
  Wrap,        // reads and writes go to the offset modulo the capacity
  AliasReads,  // writes are lost; reads return the offset modulo the capacity
  DropAsOnes,  // writes are lost; reads return 0xFF
};

// Holds the first `capacityBytes` of the disk in `real`.
std::shared_ptr<DiskImage> MakeCounterfeitImage(std::shared_ptr<DiskImage> real,
                                                std::uint64_t capacityBytes, PastCapacity kind);

}  // namespace vornak::test

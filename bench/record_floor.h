// The floor no cmdCall round trip can beat: allocating, zero-filling and freeing a command record
// and its 255-byte sense buffer.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "qxscsi/qxscsi.h"

namespace qxscsi::bench {

// One pass of the floor. The sizes are hidden from the compiler so that both zero-fills are
// library memset calls: with a constant size the compiler inlines a string instruction that is
// slower here, which would raise the floor.
inline void recordAllocationFloor() {
  std::size_t recordSize = sizeof(QXScsiCmd);
  std::size_t senseSize = 255;
  benchmark::DoNotOptimize(recordSize);
  benchmark::DoNotOptimize(senseSize);
  void* record = ::operator new(recordSize);
  std::memset(record, 0, recordSize);
  unsigned char* sense = new unsigned char[senseSize];
  std::memset(sense, 0, senseSize);
  benchmark::DoNotOptimize(record);
  benchmark::DoNotOptimize(sense);
  benchmark::ClobberMemory();
  delete[] sense;
  ::operator delete(record);
}

}  // namespace qxscsi::bench

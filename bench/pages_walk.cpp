// Walking 4,000 12-byte NAA designation descriptors: input iterators against a plain header-skip loop.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "wire/bytes.h"

namespace {

// Heap allocations made by this program, counted to show that a step allocates nothing.
unsigned long allocations = 0;

constexpr int descriptors_c = 4000;

const std::vector<unsigned char>& descriptorList() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> b;
    for (int i = 0; i < descriptors_c; ++i) {
      unsigned char naa[] = {0x01, 0x03, 0x00, 0x08, 0x60, 0x01, 0x40, 0x5f, 0x00, 0x00, 0x00, 0x00};
      qxscsi::wire::putBe16(naa + 10, static_cast<uint32_t>(i));
      b.insert(b.end(), naa, naa + sizeof naa);
    }
    return b;
  }();
  return bytes;
}

void report(benchmark::State& state, unsigned long allocationsBefore) {
  const double walks = static_cast<double>(state.iterations());
  state.counters["descriptor"] = benchmark::Counter(
      descriptors_c, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["allocs/walk"] = static_cast<double>(allocations - allocationsBefore) / walks;
}

// The baseline: read each 4-byte header and skip by its length.
void BM_PlainHeaderSkip(benchmark::State& state) {
  const std::vector<unsigned char>& b = descriptorList();
  const unsigned long before = allocations;
  for (auto _ : state) {
    unsigned count = 0, types = 0;
    const unsigned char* p = b.data();
    const unsigned char* const last = b.data() + b.size();
    while (last - p >= 4) {
      types += p[1] & 0x0F;
      ++count;
      p += 4 + p[3];
    }
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(types);
  }
  report(state, before);
}
BENCHMARK(BM_PlainHeaderSkip);

// begin/end over a list that answers borrowed pages, pre-increment.
void BM_InputIteratorWalk(benchmark::State& state) {
  const std::vector<unsigned char>& b = descriptorList();
  const qxscsi::DesignationDescriptorList list(b.data(), b.size(), b.size());
  const unsigned long before = allocations;
  for (auto _ : state) {
    unsigned count = 0, types = 0;
    for (auto it = QXScsiPageIterators::begin(list), e = QXScsiPageIterators::end(list); it != e; ++it) {
      const QXScsiIterativePage page = *it;
      types += page.pageBeginning()[1] & 0x0F;
      ++count;
    }
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(types);
  }
  report(state, before);
}
BENCHMARK(BM_InputIteratorWalk);

// The list's own walk with a caller's page, without iterators.
void BM_ListNext(benchmark::State& state) {
  const std::vector<unsigned char>& b = descriptorList();
  const qxscsi::DesignationDescriptorList list(b.data(), b.size(), b.size());
  const unsigned long before = allocations;
  for (auto _ : state) {
    unsigned count = 0, types = 0;
    qxscsi::DesignationDescriptorPage page(list.limit());
    while (list.next(page) != nullptr) {
      types += page.pageBeginning()[1] & 0x0F;
      ++count;
    }
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(types);
  }
  report(state, before);
}
BENCHMARK(BM_ListNext);

// Post-increment answers an iterator over a duplicate list: one allocation per step.
void BM_InputIteratorPostIncrement(benchmark::State& state) {
  const std::vector<unsigned char>& b = descriptorList();
  const qxscsi::DesignationDescriptorList list(b.data(), b.size(), b.size());
  const unsigned long before = allocations;
  for (auto _ : state) {
    unsigned count = 0;
    for (auto it = QXScsiPageIterators::begin(list), e = QXScsiPageIterators::end(list); it != e; it++)
      ++count;
    benchmark::DoNotOptimize(count);
  }
  report(state, before);
}
BENCHMARK(BM_InputIteratorPostIncrement);

}  // namespace

// The counting allocator pairs malloc with free, which the compiler cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

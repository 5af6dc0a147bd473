// Allocation failure on demand for the targets tests: the global allocation functions of this test
// program fail exactly one chosen allocation.
#pragma once

#include <cstddef>

namespace qxscsi::test {

// The next allocation of exactly size bytes throws std::bad_alloc (the nothrow forms answer null);
// allocations of other sizes go on as usual. One failure per call.
void failNextAllocationOf(std::size_t size);
// Cancels a failure that has not happened yet; answers whether one was still pending.
bool cancelAllocationFailure();

}  // namespace qxscsi::test

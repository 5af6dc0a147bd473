// Replaced global allocation functions (malloc and free underneath, so sanitizers still see every
// block) with one armed failure at a time.
#include "alloc_failure.h"

#include <cstdlib>
#include <new>

namespace {

std::size_t failingSize = 0;  // 0: nothing armed

bool shouldFail(std::size_t size) {
  if (failingSize == 0 || size != failingSize) return false;
  failingSize = 0;
  return true;
}

void* allocate(std::size_t size) {
  if (shouldFail(size)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
  void* p = allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace qxscsi::test {

void failNextAllocationOf(std::size_t size) { failingSize = size; }

bool cancelAllocationFailure() {
  const bool pending = failingSize != 0;
  failingSize = 0;
  return pending;
}

}  // namespace qxscsi::test

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

// Counts every heap allocation of the process: the benchmark binary defines malloc and its
// relatives, which the C library's own allocator then serves (operator new calls malloc).
#include <malloc.h>

#include <cerrno>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench_support.h"

// The sanitizers bring allocators of their own: there the count stays 0 and is not trusted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {
std::atomic<std::uint64_t> g_allocations{0};
void Count() {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  Count();
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
}  // extern "C"

namespace zavn::bench {
std::uint64_t Allocations() {
  return g_allocations.load(std::memory_order_relaxed);
}
}  // namespace zavn::bench
#else
namespace zavn::bench {
std::uint64_t Allocations() {
  return 0;
}
}  // namespace zavn::bench
#endif

namespace zavn::bench {
// One allocation through operator new must be seen, or every count would read 0.
bool AllocationHookActive() {
  const std::uint64_t before = Allocations();
  int* probe = new int(1);
  benchmark::DoNotOptimize(probe);
  delete probe;
  return Allocations() > before;
}
}  // namespace zavn::bench

// Lock on Windows: a critical section. Locks are destroyed only at DLL unload, after the host
// has stopped the worker thread, so deleting the section then is safe.
#include <windows.h>

#include <new>

#include "platform/system.h"

namespace zavn::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16);

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

Lock::Lock() noexcept {
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
Lock::~Lock() {
  DeleteCriticalSection(Section(storage_));
}
void Lock::Enter() noexcept {
  EnterCriticalSection(Section(storage_));
}
void Lock::Leave() noexcept {
  LeaveCriticalSection(Section(storage_));
}

}  // namespace zavn::platform

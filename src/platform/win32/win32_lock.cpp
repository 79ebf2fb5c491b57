// Lock on Windows: a critical section. Locks are destroyed only at DLL unload, and the DLL unloads
// only after the worker thread has given back its reference on it (or, at process exit, after
// the system has ended the thread), so no thread of ours can be using a section as it is
// deleted. Deleting it matters: the system keeps a list of the process's sections.
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

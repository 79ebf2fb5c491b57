// Lock on POSIX: a recursive pthread mutex, as a critical section is. It is never destroyed: at
// process exit other threads may still hold it while static destructors run.
#include <pthread.h>

#include <new>

#include "platform/system.h"

namespace zavn::platform {

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16);

namespace {
pthread_mutex_t* Mutex(unsigned char* storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

Lock::Lock() noexcept {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}
Lock::~Lock() = default;
void Lock::Enter() noexcept {
  pthread_mutex_lock(Mutex(storage_));
}
void Lock::Leave() noexcept {
  pthread_mutex_unlock(Mutex(storage_));
}

}  // namespace zavn::platform

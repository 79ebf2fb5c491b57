// Lock on POSIX: a pthread mutex. It is never destroyed: at process exit other threads may
// still hold it while static destructors run.
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
  pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr);
}
Lock::~Lock() = default;
void Lock::Enter() noexcept {
  pthread_mutex_lock(Mutex(storage_));
}
void Lock::Leave() noexcept {
  pthread_mutex_unlock(Mutex(storage_));
}

}  // namespace zavn::platform

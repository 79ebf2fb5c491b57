#pragma once

#include <new>
#include <utility>

namespace zavn::platform {

// Library state that exit never destroys. A host may return from main while the library's
// threads run (the poll thread is left running on purpose, as a host may still poll, and the
// capture's writer and the hotplug's thread with it): the state they use must outlive the
// process's static destructors. Built where it is defined, as a plain static would be.
template <class T>
class NeverDestroyed {
 public:
  template <class... Args>
  explicit NeverDestroyed(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  T& operator*() { return *std::launder(reinterpret_cast<T*>(storage_)); }
  T* operator->() { return &**this; }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace zavn::platform

// Follows hidraw nodes coming and going in the device folder (inotify), on a thread of its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid_port.h"

namespace zavn::platform {

// The number in a hidraw node's name ("hidraw" and decimal digits), or -1 for any other name.
long HidrawNodeNumber(const char* name);

// Tells a listener of the hidraw nodes created in a folder, moved into it, given new permissions
// there, moved out of it or removed from it. The kernel creates a node before udev has set its
// owner and mode, and only then can the library open it: a change of permissions is told as an
// arrival too, so an arrival may be told again for a node already present. The path is the
// folder, a slash and the node's name, as the port lists it; when the kernel dropped events,
// removal and arrival are both told with an empty path.
class HidrawWatch {
 public:
  HidrawWatch() = default;
  ~HidrawWatch();
  HidrawWatch(const HidrawWatch&) = delete;
  HidrawWatch& operator=(const HidrawWatch&) = delete;

  // Starts telling `listener` of the nodes in `folder`, replacing the listener (and the folder)
  // of a watch already running; null stops, and once that returns no call to a listener is
  // under way. Listeners are called with calls_ held, so they must not call Watch. False when
  // the folder cannot be watched.
  bool Watch(const std::string& folder, InterfaceListener* listener);

 private:
  void Stop();
  void Run(int changes, int stop, const std::string& folder);
  void Deliver(std::uint32_t mask, const char* name, const std::string& folder);
  void Tell(bool arrived, const char* path);

  std::mutex control_;                     // taken by Watch: one start or stop at a time
  std::mutex calls_;                       // held across every listener call
  InterfaceListener* listener_ = nullptr;  // under calls_
  std::thread thread_;
  std::string folder_;
  int stop_ = -1;  // an eventfd that ends the thread
};

}  // namespace zavn::platform

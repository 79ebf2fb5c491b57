// Receivers modelled as USB gadgets (configfs), each on a dummy_hcd controller of its own, so
// that the library meets them through usbhid behind real hidraw nodes. A receiver has a maker,
// product and serial string and three HID interfaces: two that carry no data (4- and 14-byte
// input reports) and the data interface (32-byte input report 2, the command catalogue's output
// reports), served through the gadget's /dev/hidgN. The data interface streams motion records
// with a running counter in the first motion value and answers commands and an update with the
// virtual receiver's transmitter and update models, enumerating again under each new product
// string. The HID gadget driver serves four functions at once (ReceiverOptions::unusedInterfaces).
// The model's own thread does the /dev/hidgN I/O; Plug and Unplug work on the caller's thread, so
// that the other receivers stream on meanwhile. The calls are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zavn::testing::usb {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

struct ReceiverOptions {
  std::string product = "NOLTADongle";
  std::string maker = "Maker";  // empty: the device has no maker string
  std::uint16_t vendor = 0xFFFF;
  bool unusedInterfaces = true;  // plug the 4- and 14-byte interfaces before the data interface
  std::uint16_t firstSample = 0;
};

class ReceiverModel {
 public:
  ReceiverModel();
  ~ReceiverModel();
  ReceiverModel(const ReceiverModel&) = delete;
  ReceiverModel& operator=(const ReceiverModel&) = delete;

  // False with a reason when no USB gadget can be made (configfs, a device controller).
  bool Usable(std::string& reason);

  // Plugs a receiver in on a free device controller; its id (>= 1), or 0.
  int Plug(const ReceiverOptions& options);
  // The usbmon bus number the next Plug enumerates on; 0 when no controller is free.
  int NextBus();
  // A USB disconnect, after `lastRecords` more motion records sent at once (still on their way).
  void Unplug(int id, int lastRecords = 0);
  // Waits until every interface has its hidraw node in /dev; false after `limit`.
  bool AwaitNodes(int id, std::chrono::milliseconds limit);
  // Streams motion records at rateHz (0 stops) whenever the data interface runs "NOLTADongle".
  void Stream(int id, int rateHz);

  std::uint16_t NextSample(int id);  // the counter of the next motion record
  // When the gadget took each motion record, by counter; none for one the device dropped.
  std::vector<Clock::time_point> SentTimes(int id);
  std::vector<Bytes> Outputs(int id, std::size_t from = 0);  // the data interface's, from `from`
  std::string Failure();  // the first failure of the model's own gadget I/O, or empty

 private:
  struct Receiver;
  struct Function;

  void Loop();
  void OnThread(const std::function<void()>& action);  // runs it on the model's thread, waits
  void Wake();
  void Fail(const std::string& what);

  std::string FreeController() const;
  bool TakeController(Receiver& receiver);
  bool Bind(Receiver& receiver);
  bool Bound(Receiver& receiver, bool written);
  void Leave(Receiver& receiver);
  void Unbind(Receiver& receiver);
  bool Send(Receiver& receiver, const std::uint8_t* report, std::size_t length);
  void Flush(Receiver& receiver);
  void Pop(Receiver& receiver, bool sent);
  void ReadOutputs(Receiver& receiver);
  void Answer(Receiver& receiver, const std::uint8_t* report, std::size_t length);
  void StreamDue(Receiver& receiver, Clock::time_point now);
  bool SendMotion(Receiver& receiver);
  void Reenumerate(Receiver& receiver, const char* product);
  Receiver* Find(int id);
  Clock::time_point NextDue(Clock::time_point now);

  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::function<void()>> requests_;
  std::uint64_t requested_ = 0, completed_ = 0;
  int plugs_ = 0;
  std::vector<std::unique_ptr<Receiver>> receivers_;
  std::string failure_;
  int wakeFd_ = -1;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the rest exists
};

}  // namespace zavn::testing::usb

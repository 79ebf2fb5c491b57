// Receivers modelled as USB devices: USB gadgets made through configfs, each on a device
// controller of its own from dummy_hcd, so that the library meets them through the kernel's USB
// HID driver (usbhid) behind real hidraw nodes. Each receiver is one USB device of vendor 0xFFFF,
// product 0x0008, with a maker string, the product string of its firmware and a serial number,
// and three HID interfaces: the two that carry no data (4- and 14-byte input reports) and the
// data interface (32-byte input reports with report ID 2, the output reports of the command
// catalogue). Its input reports are written to the gadget's /dev/hidgN and its output reports
// read from there. The data interface streams motion records with a running counter in the first
// motion value, answers the identity commands and goes through a firmware update as the virtual
// receiver does (the same transmitter and update models): it leaves the bus and enumerates again
// under each new product string. Every output report is kept. The kernel's HID gadget driver
// serves four HID functions at once: one receiver with its three interfaces and one of data alone,
// or four of data alone (ReceiverOptions::unusedInterfaces).
//
// One thread of the model's own reads and writes the gadgets' /dev/hidgN; Plug and Unplug make,
// bind, unbind and take apart a gadget on the caller's thread, so that the other receivers stream
// on meanwhile, as separate devices would. The calls below are thread-safe.
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

#include "zavn/zavn_virtual.h"

namespace zavn::testing::usb {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline constexpr std::uint16_t kReceiverVendor = 0xFFFF;
inline constexpr std::uint16_t kReceiverProduct = 0x0008;
inline constexpr std::size_t kInputReportLength = 32;

struct ReceiverOptions {
  std::string product = "NOLTADongle";
  std::string maker = "Maker";  // empty: the device has no maker string
  std::uint16_t vendor = kReceiverVendor;
  bool unusedInterfaces = true;  // plug the 4- and 14-byte interfaces before the data interface
  std::uint16_t firstSample = 0;
};

// What a receiver's model has seen and done, copied out at one moment.
struct ReceiverView {
  std::string dataNode;               // the data interface's hidraw node in /dev, while plugged
  std::vector<std::string> products;  // each product string the data interface came up under
  std::uint16_t nextSample = 0;       // the counter of the next motion record
  Clock::time_point lastSampleAt{};
  std::size_t outputs = 0;
  ZAVNVirtualTransmitterState transmitter{};
};

class ReceiverModel {
 public:
  ReceiverModel();
  ~ReceiverModel();
  ReceiverModel(const ReceiverModel&) = delete;
  ReceiverModel& operator=(const ReceiverModel&) = delete;

  // False with a reason when no USB gadget can be made (configfs, a device controller).
  bool Usable(std::string& reason);

  // Plugs a receiver in on a free device controller; its id (>= 1), or 0 when it could not.
  int Plug(const ReceiverOptions& options);
  // The USB bus number (as usbmon numbers it) that the next Plug enumerates on: the host side
  // of the first free device controller; 0 when none is free.
  int NextBus();
  // Pulls the receiver out (a USB disconnect); the data interface first sends `lastRecords`
  // more motion records at once, as records still on their way when a receiver is pulled out.
  void Unplug(int id, int lastRecords = 0);
  // Waits until every interface of the receiver has its hidraw node in /dev; false after `limit`.
  bool AwaitNodes(int id, std::chrono::milliseconds limit);
  // Streams motion records at rateHz from now on (0 stops) whenever the data interface runs
  // the normal firmware ("NOLTADongle").
  void Stream(int id, int rateHz);

  ReceiverView View(int id);
  // When each motion record was written to the gadget, by its sample counter (empty before any);
  // none for a record the device dropped before the host took it (its queue full, or no host).
  std::vector<Clock::time_point> SentTimes(int id);
  // The data interface's output reports from the from-th on.
  std::vector<Bytes> Outputs(int id, std::size_t from = 0);
  // The first failure of the model's own gadget I/O, or empty.
  std::string Failure();

 private:
  struct Receiver;
  struct Function;

  void Loop();
  // Runs `action` on the model's thread and waits for it.
  void OnThread(const std::function<void()>& action);
  void Wake();
  void Fail(const std::string& what);

  std::string FreeController() const;
  bool TakeController(Receiver& receiver);
  bool Bind(Receiver& receiver);
  void Leave(Receiver& receiver);
  void Unbind(Receiver& receiver);
  void Remove(Receiver& receiver);
  static void TakeApart(const std::filesystem::path& gadget);
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

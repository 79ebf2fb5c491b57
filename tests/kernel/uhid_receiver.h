// Receivers modelled through the kernel's /dev/uhid, so that the library meets them behind real
// hidraw nodes. Each receiver is three HID devices of vendor 0xFFFF, product 0x0008: the two
// interfaces that carry no data (4- and 14-byte input reports) and the data interface (32-byte
// input reports with report ID 2, the output reports of the command catalogue), whose HID name
// is the product string. The data interface streams motion records with a running counter in the
// first motion value, answers the identity commands and goes through a firmware update as the
// virtual receiver does (the same transmitter and update models), re-creating its device under
// each new product string. Every UHID_OUTPUT is kept.
//
// One thread of the model's own does all uhid I/O; the calls below are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zavn/zavn_virtual.h"

namespace zavn::testing::uhid {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline constexpr std::uint16_t kReceiverVendor = 0xFFFF;
inline constexpr std::uint16_t kReceiverProduct = 0x0008;
inline constexpr std::size_t kInputReportLength = 32;

struct ReceiverOptions {
  std::string product = "NOLTADongle";
  std::uint16_t vendor = kReceiverVendor;
  bool unusedInterfaces = true;  // plug the 4- and 14-byte interfaces before the data interface
  std::uint16_t firstSample = 0;
};

// An output report as the data interface received it, with the product string it ran under.
struct Output {
  std::string product;
  Bytes bytes;
};

// What a receiver's model has seen and done, copied out at one moment.
struct ReceiverView {
  bool dataOpen = false;    // the data interface's hidraw node is held open
  int dataOpens = 0;        // UHID_OPEN events of the data interface, over its generations
  bool unusedOpen = false;  // either interface without data is held open
  int unusedOpens = 0;      // UHID_OPEN events of those interfaces
  std::size_t unusedOutputs = 0;
  std::vector<std::string> products;  // each product string the data interface came up under
  std::uint16_t nextSample = 0;       // the counter of the next motion record
  Clock::time_point lastSampleAt{};
  std::size_t outputs = 0;
  ZAVNVirtualTransmitterState transmitter{};
  std::uint32_t bootloaderSum = 0;  // data bytes of the HEX lines the boot loader last received
};

class UhidModel {
 public:
  UhidModel();
  ~UhidModel();
  UhidModel(const UhidModel&) = delete;
  UhidModel& operator=(const UhidModel&) = delete;

  // False with a reason when /dev/uhid cannot be used.
  bool Usable(std::string& reason);

  // Plugs a receiver; its id (>= 1), or 0 when a device could not be created.
  int Plug(const ReceiverOptions& options);
  // UHID_DESTROY for every device of the receiver; the data interface first sends `lastRecords`
  // more motion records at once, as records still on their way when a receiver is pulled out.
  void Unplug(int id, int lastRecords = 0);
  // Waits until every device of the receiver has its hidraw node in /dev; false after `limit`.
  bool AwaitNodes(int id, std::chrono::milliseconds limit);
  // Streams motion records at rateHz from now on (0 stops) whenever the data interface runs
  // the normal firmware ("NOLTADongle").
  void Stream(int id, int rateHz);

  ReceiverView View(int id);
  // When each motion record was written to uhid, by its sample counter (empty before any).
  std::vector<Clock::time_point> SentTimes(int id);
  // The data interface's output reports from the from-th on.
  std::vector<Output> Outputs(int id, std::size_t from = 0);
  // The first failure of the model's own uhid I/O, or empty.
  std::string Failure();

 private:
  struct Receiver;
  struct Device;

  void Loop();
  // Runs `action` on the model's thread and waits for it.
  void OnThread(const std::function<void()>& action);
  void Wake();
  void Fail(const std::string& what);

  bool Create(Device& device);
  void Destroy(Device& device);
  bool Send(Device& device, const std::uint8_t* report, std::size_t length);
  void ReadEvents(Receiver& receiver, Device& device);
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
  std::vector<std::unique_ptr<Receiver>> receivers_;
  std::string failure_;
  int wakeFd_ = -1;
  bool stop_ = false;
  std::thread thread_;  // last: it starts once the rest exists
};

}  // namespace zavn::testing::uhid

// The virtual receiver: HID interfaces modelled in software, behaving towards the library as
// the Windows HID driver does (an input queue per interface of 32 reports until the library
// asks for another depth, that drops the oldest; set-output-report requests, product strings
// in UTF-16LE). It allocates only when an
// interface is plugged, never per report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "platform/system.h"
#include "platform/virtual/replay_stream.h"
#include "platform/virtual/transmitter_model.h"
#include "platform/virtual/update_model.h"
#include "platform/virtual/virtual_transmitter.h"

namespace zavn::platform::virt {

inline constexpr int kMaxInterfaces = 32;
inline constexpr int kMaxHandles = 64;
inline constexpr int kMaxReportLength = 1024;
inline constexpr int kInputQueueReports = 32;  // until the library asks for another depth
inline constexpr int kInputQueueCapacity = static_cast<int>(kMaxInputQueueReports);
inline constexpr int kOutputLogReports = 4096;
inline constexpr int kMaxProductChars = 126;  // a USB string descriptor's limit

// What PlugReceiver plugs: the receiver's identity, its two interfaces that carry no data, and
// one data interface per transmitter.
inline constexpr std::int32_t kReceiverVendor = 0xFFFF;
inline constexpr std::int32_t kReceiverProduct = 0x0008;
inline constexpr const char* kReceiverProductString = "NOLTADongle";
inline constexpr std::int32_t kUnusedInputLengths[] = {4, 14};
inline constexpr std::int32_t kDataOutputLength = 33;
inline constexpr std::int32_t kMaxTransmitters = 4;
// A replay's speed, in percent of the captured timing (0: as fast as the library reads).
inline constexpr std::int32_t kMaxReplaySpeed = 100000;

enum Fault : std::int32_t {
  kFaultOpen = 1,
  kFaultAttributes = 2,
  kFaultCapabilities = 4,
  kFaultRead = 8,
  kFaultWrite = 16,
  kFaultProduct = 32,
};

// Whether discovery and HID calls go to the virtual receiver (see ActiveHidPort).
bool IsSelected();
// Returns the previous setting.
bool Select(bool on);

class VirtualReceiver final : public HidPort {
 public:
  // Control, as the exported virtual-receiver functions give it.
  void Clear();
  std::int32_t Plug(std::int32_t vendorId, std::int32_t productId, std::int32_t inputLength,
                    std::int32_t outputLength, const char* product);
  bool Unplug(std::int32_t id);
  // Plugs an unplugged interface back as the device comes back: under a new path, with the
  // firmware it was running (or was about to start), its transmitter streaming from now on.
  bool Replug(std::int32_t id);
  bool QueueInput(std::int32_t id, const std::uint8_t* report, std::int32_t length);
  // A whole receiver whose transmitters stream at rateHz; the first data interface's id, or 0.
  std::int32_t PlugReceiver(std::int32_t transmitters, std::int32_t rateHz);
  // A whole receiver whose data interfaces play the capture in `file` back; the first data
  // interface's id, or 0 with `error` naming the file and why.
  std::int32_t PlugReplay(const char* file, std::int32_t speedPercent, bool loop,
                          std::string& error);
  std::int32_t TakeOutput(std::int32_t id, std::uint8_t* buffer, std::int32_t capacity);
  // The state of the transmitter behind a data interface of PlugReceiver; false for other ids.
  bool TransmitterState(std::int32_t id, ZAVNVirtualTransmitterState& out);
  // Changes the transmitter behind a data interface of PlugReceiver from its next record on (the
  // records due before go out as they were): `change` takes it under the lock and says whether
  // it took the change. False for other ids.
  template <typename Change>
  bool ChangeTransmitter(std::int32_t id, Change&& change) {
    LockGuard guard(lock_);
    Interface* record = Find(id);
    if (record == nullptr || !record->hasTransmitter) return false;
    if (record->plugged && record->transmitter.ClockStarted()) PushDueStream(*record);
    return change(record->transmitter);
  }
  bool SetProduct(std::int32_t id, const char* product);
  bool SetFaults(std::int32_t id, std::int32_t faults);
  // Handles the library holds open to the interface; -1 for an unknown id.
  std::int32_t OpenHandleCount(std::int32_t id);
  // Handles open on every interface, plugged or not.
  std::int32_t OpenHandles();
  // Calls made with a handle that was closed or never opened: always 0 while every slot keeps
  // its handle to itself.
  std::uint32_t StaleHandleUses();

  PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) override;
  HidHandle Open(const char* path) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes& out) override;
  bool Capabilities(HidHandle handle, HidCaps& out) override;
  bool NumInputBuffers(HidHandle handle, std::uint32_t& out) override;
  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override;
  bool ProductString(HidHandle handle, void* buffer, std::uint32_t bytes) override;
  ReadOutcome Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) override;
  WriteOutcome SetOutputReport(HidHandle handle, const std::uint8_t* report,
                               std::uint32_t length) override;
  // Waits on the library's clock until a report is queued for one of the handles (by a host, as
  // an answer, or as a transmitter's record that has come due).
  bool CanWaitForInput() override { return true; }
  std::uint32_t WaitForInput(const HidHandle* handles, int count, std::uint32_t ms) override;
  // Plugs, unplugs, replugs and re-enumerations are told as they happen, under the receiver's
  // lock, on the thread that caused them.
  bool WatchInterfaces(InterfaceListener* listener) override;

 private:
  struct Interface {
    std::int32_t id = 0;  // 0: the record is free
    bool plugged = false;
    std::uint64_t plugOrder = 0;
    // Counts re-enumerations: a handle opened to an earlier one is dead.
    std::uint32_t generation = 0;
    HidAttributes attributes;
    HidCaps caps;
    bool hasProduct = false;
    char product[kMaxProductChars + 1] = {};
    std::int32_t faults = 0;
    char path[kDevicePathSize] = {};
    std::int32_t openHandles = 0;
    // Input queue: a ring of kInputQueueCapacity reports of caps.inputReportLength bytes,
    // holding at most queueDepth of them.
    std::vector<std::uint8_t> inputs;
    std::uint32_t inputHead = 0, inputCount = 0;
    std::uint32_t queueDepth = kInputQueueReports;
    // Output log: a ring of kOutputLogReports entries of outputEntrySize bytes each.
    std::vector<std::uint8_t> outputs;
    std::vector<std::uint32_t> outputLengths;
    std::uint32_t outputEntrySize = 0, outputHead = 0, outputCount = 0;
    // A data interface of PlugReceiver streams motion and answers the host's commands; one of
    // PlugReplay plays its capture.
    bool hasTransmitter = false;
    ReplayStream replay;
    VirtualTransmitter transmitter;
    TransmitterModel model;
    UpdateModel update;
    // A re-enumeration due at pendingTick.
    Reenumeration pending;
    std::uint32_t pendingTick = 0;
  };
  struct HandleEntry {
    bool inUse = false;
    std::uint32_t serial = 0;
    std::int32_t interfaceId = 0;
    std::uint32_t generation = 0;  // of the interface when the handle was opened
  };

  Interface* Find(std::int32_t id);
  // The entry of an open handle, else null (and the call is counted as a stale use).
  HandleEntry* Entry(HidHandle handle, bool countStale = true);
  // The interface a handle is open to while that very device is plugged, else null.
  Interface* Live(HidHandle handle);
  Interface* Live(const HandleEntry& entry);
  Interface* FreeRecord();
  static bool StoreProduct(Interface& record, const char* product);
  static void DropOldest(Interface& record);
  void PushInput(Interface& record, const std::uint8_t* report);
  // Queues the transmitter's motion reports, or the replay's reports, that are due by now.
  void PushDueStream(Interface& record);
  void PushDueReplay(Interface& record);
  // Microseconds until the interface's stream has its next report due (no more than `limit`).
  static std::uint64_t UsUntilDue(Interface& record, std::uint64_t limit);
  // Plugs the two interfaces that carry no data, then one data interface of each input report
  // length; their ids into `ids` (data interfaces from ids[2]), false (none left plugged) when
  // there is no room.
  bool PlugReceiverInterfaces(const std::int32_t* dataInputLengths, std::int32_t dataInterfaces,
                              std::int32_t* ids);
  static void WritePath(Interface& record);
  // The device drops off (unless it was away already) and comes back at once as `product`,
  // with a new path.
  void Reenumerate(Interface& record, const char* product, bool wasPresent = true);
  // Carries out a re-enumeration that has come due.
  void ApplyDue(Interface& record);
  // Hands an accepted output report to the transmitter behind a data interface.
  void Answer(Interface& record, const std::uint8_t* report, std::uint32_t length);

  // The handles of `handles` with input queued, the due records queued first; sets `untilDueUs`
  // to the microseconds until the next record of theirs is due (no more than it was).
  std::uint32_t ReadyHandles(const HidHandle* handles, int count, std::uint64_t& untilDueUs);

  Lock lock_;
  Signal queued_;  // raised with every report queued
  Interface interfaces_[kMaxInterfaces];
  HandleEntry handles_[kMaxHandles];
  std::int32_t nextId_ = 1;
  std::uint64_t nextPlugOrder_ = 1;
  std::uint32_t nextSerial_ = 1;
  std::uint32_t staleHandleUses_ = 0;
  InterfaceListener* listener_ = nullptr;
};

// The one virtual receiver of the library; it lives as long as the process.
VirtualReceiver& Receiver();

}  // namespace zavn::platform::virt

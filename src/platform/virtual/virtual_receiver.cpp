#include "platform/virtual/virtual_receiver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/never_destroyed.h"

namespace zavn::platform::virt {
namespace {

constexpr std::uint32_t kHandleIndexBits = 8;
constexpr std::uint32_t kMinOutputEntry = 64;
constexpr std::uint64_t kUsPerMs = 1000;
constexpr std::int32_t kCapturedTiming = 100;  // percent
// A data interface's queue takes stream reports and answers alike.
static_assert(kReplyReportLength == kStreamReportLength);

bool SelectedByEnvironment() {
  const char* value = std::getenv("ZAVN_VIRTUAL_RX");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::atomic<bool> g_selected{SelectedByEnvironment()};

// ZAVN_VIRTUAL_RX=FILE: any value but "0" and "1" names a capture to play back.
void PlayCaptureFromEnvironment(VirtualReceiver& receiver) {
  const char* value = std::getenv("ZAVN_VIRTUAL_RX");
  if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0 ||
      std::strcmp(value, "1") == 0) {
    return;
  }
  std::string error;
  if (receiver.PlugReplay(value, kCapturedTiming, false, error) == 0) {
    std::fprintf(stderr, "ZAVN_Main: ZAVN_VIRTUAL_RX: %s\n", error.c_str());
  }
}

VirtualReceiver* Started(VirtualReceiver* receiver) {
  PlayCaptureFromEnvironment(*receiver);
  return receiver;
}

}  // namespace

bool IsSelected() {
  return g_selected.load(std::memory_order_acquire);
}
bool Select(bool on) {
  return g_selected.exchange(on, std::memory_order_acq_rel);
}

VirtualReceiver& Receiver() {
  static NeverDestroyed<VirtualReceiver> receiver;
  static VirtualReceiver* const started = Started(&*receiver);
  return *started;
}

VirtualReceiver::Interface* VirtualReceiver::Find(std::int32_t id) {
  if (id <= 0) return nullptr;
  for (Interface& record : interfaces_) {
    if (record.id == id) return &record;
  }
  return nullptr;
}

VirtualReceiver::HandleEntry* VirtualReceiver::Entry(HidHandle handle, bool countStale) {
  const std::uint32_t index = static_cast<std::uint32_t>(handle & 0xFFu);
  HandleEntry* entry = index == 0 || index > static_cast<std::uint32_t>(kMaxHandles)
                           ? nullptr
                           : &handles_[index - 1];
  if (entry == nullptr || !entry->inUse ||
      entry->serial != static_cast<std::uint32_t>(handle >> kHandleIndexBits)) {
    if (countStale) ++staleHandleUses_;
    return nullptr;
  }
  return entry;
}

VirtualReceiver::Interface* VirtualReceiver::Live(const HandleEntry& entry) {
  Interface* record = Find(entry.interfaceId);
  if (record == nullptr) return nullptr;
  ApplyDue(*record);
  return record->plugged && record->generation == entry.generation ? record : nullptr;
}

VirtualReceiver::Interface* VirtualReceiver::Live(HidHandle handle) {
  const HandleEntry* entry = Entry(handle);
  return entry == nullptr ? nullptr : Live(*entry);
}

void VirtualReceiver::WritePath(Interface& record) {
  char instance[24];
  if (record.generation == 0) {
    std::snprintf(instance, sizeof instance, "%d", record.id);
  } else {
    std::snprintf(instance, sizeof instance, "%d&%u", record.id, record.generation);
  }
  std::snprintf(record.path, sizeof record.path,
                "\\\\?\\hid#vid_%04x&pid_%04x#virtual&%s#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                static_cast<unsigned>(record.attributes.vendorId),
                static_cast<unsigned>(record.attributes.productId), instance);
}

void VirtualReceiver::Reenumerate(Interface& record, const char* product, bool wasPresent) {
  if (wasPresent && listener_ != nullptr) listener_->Removed(record.path);
  ++record.generation;
  record.plugOrder = nextPlugOrder_++;
  StoreProduct(record, product);
  WritePath(record);
  record.inputHead = record.inputCount = 0;
  record.queueDepth = kInputQueueReports;
  record.pending = {};
  record.update.Start(product);
  if (listener_ != nullptr) listener_->Arrived(record.path);
}

void VirtualReceiver::ApplyDue(Interface& record) {
  if (record.pending.product == nullptr || !record.plugged) return;
  if (static_cast<std::int32_t>(ActiveSystem().TickMs() - record.pendingTick) < 0) return;
  Reenumerate(record, record.pending.product);
}

void VirtualReceiver::Answer(Interface& record, const std::uint8_t* report, std::uint32_t length) {
  // The answers follow the motion the transmitter sent before the command arrived.
  PushDueStream(record);
  record.transmitter.Accept(report, length);
  TransmitterModel::Reply replies[kMaxReplies];
  int count = record.model.Accept(report, length, replies);
  for (int k = 0; k < count; ++k) PushInput(record, replies[k]);
  Reenumeration next;
  count = record.update.Accept(record.product, report, length, replies, next);
  for (int k = 0; k < count; ++k) PushInput(record, replies[k]);
  if (next.product == nullptr) return;
  if (next.afterMs == 0) {
    Reenumerate(record, next.product);
  } else {
    record.pending = next;
    record.pendingTick = ActiveSystem().TickMs() + next.afterMs;
  }
}

// A free record, else the unplugged one plugged longest ago that no handle holds open.
VirtualReceiver::Interface* VirtualReceiver::FreeRecord() {
  Interface* reusable = nullptr;
  for (Interface& record : interfaces_) {
    if (record.id == 0) return &record;
    if (!record.plugged && record.openHandles == 0 &&
        (reusable == nullptr || record.plugOrder < reusable->plugOrder)) {
      reusable = &record;
    }
  }
  return reusable;
}

bool VirtualReceiver::StoreProduct(Interface& record, const char* product) {
  if (product == nullptr) {
    record.hasProduct = false;
    record.product[0] = '\0';
    return true;
  }
  const std::size_t length = std::strlen(product);
  if (length > static_cast<std::size_t>(kMaxProductChars)) return false;
  std::memcpy(record.product, product, length + 1);
  record.hasProduct = true;
  return true;
}

void VirtualReceiver::Clear() {
  LockGuard guard(lock_);
  for (Interface& record : interfaces_) {
    if (record.id != 0 && record.plugged && listener_ != nullptr) listener_->Removed(record.path);
    record.id = 0;
    record.plugged = false;
    record.openHandles = 0;
    record.replay.Stop();
  }
  for (HandleEntry& entry : handles_) entry.inUse = false;
}

std::int32_t VirtualReceiver::Plug(std::int32_t vendorId, std::int32_t productId,
                                   std::int32_t inputLength, std::int32_t outputLength,
                                   const char* product) {
  if (inputLength < 1 || inputLength > kMaxReportLength || outputLength < 0 ||
      outputLength > kMaxReportLength) {
    return 0;
  }
  if (product != nullptr && std::strlen(product) > static_cast<std::size_t>(kMaxProductChars)) {
    return 0;
  }
  LockGuard guard(lock_);
  Interface* record = FreeRecord();
  if (record == nullptr) return 0;

  const auto entrySize =
      std::max<std::uint32_t>(static_cast<std::uint32_t>(outputLength), kMinOutputEntry);
  try {
    record->inputs.assign(static_cast<std::size_t>(kInputQueueCapacity) * inputLength, 0);
    record->outputs.assign(static_cast<std::size_t>(kOutputLogReports) * entrySize, 0);
    record->outputLengths.assign(kOutputLogReports, 0);
  } catch (const std::bad_alloc&) {
    record->id = 0;
    return 0;
  }
  record->id = nextId_++;
  record->plugged = true;
  record->plugOrder = nextPlugOrder_++;
  record->attributes = {static_cast<std::uint16_t>(vendorId), static_cast<std::uint16_t>(productId),
                        1};
  record->caps = {static_cast<std::uint16_t>(inputLength), static_cast<std::uint16_t>(outputLength),
                  0};
  StoreProduct(*record, product);
  record->faults = 0;
  record->openHandles = 0;
  record->inputHead = record->inputCount = 0;
  record->queueDepth = kInputQueueReports;
  record->outputEntrySize = entrySize;
  record->outputHead = record->outputCount = 0;
  record->hasTransmitter = false;
  record->transmitter = {};
  record->replay.Stop();
  record->generation = 0;
  record->pending = {};
  WritePath(*record);
  if (listener_ != nullptr) listener_->Arrived(record->path);
  return record->id;
}

bool VirtualReceiver::Unplug(std::int32_t id) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  if (record == nullptr) return false;
  if (record->plugged && listener_ != nullptr) listener_->Removed(record->path);
  record->plugged = false;
  return true;
}

bool VirtualReceiver::Replug(std::int32_t id) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  if (record == nullptr || record->plugged) return false;
  record->plugged = true;
  // What the transmitter sent while the receiver was away is lost.
  record->transmitter.SkipDue(ActiveSystem().TickMs());
  record->replay.SkipDue(ActiveSystem().TickUs());
  Reenumerate(*record,
              record->pending.product != nullptr ? record->pending.product : record->product,
              false);
  return true;
}

void VirtualReceiver::DropOldest(Interface& record) {
  record.inputHead = (record.inputHead + 1) % kInputQueueCapacity;
  --record.inputCount;
}

void VirtualReceiver::PushInput(Interface& record, const std::uint8_t* report) {
  const std::uint32_t size = record.caps.inputReportLength;
  if (record.inputCount >= record.queueDepth) DropOldest(record);  // as the driver does
  const std::uint32_t tail = (record.inputHead + record.inputCount) % kInputQueueCapacity;
  std::memcpy(&record.inputs[tail * size], report, size);
  ++record.inputCount;
  queued_.Raise();
}

void VirtualReceiver::PushDueStream(Interface& record) {
  if (record.replay.Playing()) return PushDueReplay(record);
  // Only the receiver's normal firmware streams motion.
  if (!record.hasTransmitter || std::strcmp(record.product, kDongleProduct) != 0) return;
  constexpr int kBatch = 32;
  VirtualTransmitter::Report due[kBatch];
  const std::uint32_t now = ActiveSystem().TickMs();
  const int keep = static_cast<int>(record.queueDepth);
  for (int count = kBatch; count == kBatch;) {
    count = record.transmitter.ProduceDue(now, due, kBatch, keep);
    for (int k = 0; k < count; ++k) PushInput(record, due[k]);
  }
}

void VirtualReceiver::PushDueReplay(Interface& record) {
  constexpr int kBatch = 8;
  std::uint8_t due[kBatch * kMaxReportLength];
  const std::uint64_t now = ActiveSystem().TickUs();
  const int keep = static_cast<int>(record.queueDepth);
  for (int count = kBatch; count == kBatch;) {
    const int room = static_cast<int>(record.queueDepth - record.inputCount);
    count = record.replay.ProduceDue(now, due, kBatch, keep, room);
    for (int k = 0; k < count; ++k) PushInput(record, due + k * record.caps.inputReportLength);
  }
}

std::uint64_t VirtualReceiver::UsUntilDue(Interface& record, std::uint64_t limit) {
  if (record.replay.Playing()) {
    return std::min(limit, record.replay.UsUntilNext(ActiveSystem().TickUs()));
  }
  if (record.hasTransmitter && std::strcmp(record.product, kDongleProduct) == 0) {
    return std::min(limit, record.transmitter.MsUntilNext(ActiveSystem().TickMs()) * kUsPerMs);
  }
  return limit;
}

bool VirtualReceiver::QueueInput(std::int32_t id, const std::uint8_t* report, std::int32_t length) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  if (record == nullptr || !record->plugged || report == nullptr || length <= 0 ||
      length != record->caps.inputReportLength) {
    return false;
  }
  PushInput(*record, report);
  return true;
}

bool VirtualReceiver::PlugReceiverInterfaces(const std::int32_t* dataInputLengths,
                                             std::int32_t dataInterfaces, std::int32_t* ids) {
  int count = 0;
  bool complete = true;
  for (std::int32_t length : kUnusedInputLengths) {
    complete = complete && (ids[count++] = Plug(kReceiverVendor, kReceiverProduct, length, 0,
                                                kReceiverProductString)) != 0;
  }
  for (std::int32_t t = 0; t < dataInterfaces && complete; ++t) {
    complete = (ids[count++] = Plug(kReceiverVendor, kReceiverProduct, dataInputLengths[t],
                                    kDataOutputLength, kReceiverProductString)) != 0;
  }
  if (!complete) {
    for (int k = 0; k < count; ++k) Unplug(ids[k]);
  }
  return complete;
}

std::int32_t VirtualReceiver::PlugReceiver(std::int32_t transmitters, std::int32_t rateHz) {
  if (transmitters < 1 || transmitters > kMaxTransmitters || rateHz < 1 ||
      rateHz > kMaxStreamRateHz) {
    return 0;
  }
  const std::int32_t lengths[kMaxTransmitters] = {kStreamReportLength, kStreamReportLength,
                                                  kStreamReportLength, kStreamReportLength};
  std::int32_t ids[2 + kMaxTransmitters] = {};
  if (!PlugReceiverInterfaces(lengths, transmitters, ids)) return 0;
  LockGuard guard(lock_);
  for (std::int32_t t = 0; t < transmitters; ++t) {
    Interface* data = Find(ids[2 + t]);
    if (data == nullptr) continue;  // cleared by another thread meanwhile
    data->hasTransmitter = true;
    data->transmitter.Start(t, rateHz);
    data->model.Start(t);
    data->update.Start(kReceiverProductString);
  }
  return ids[2];
}

std::int32_t VirtualReceiver::PlugReplay(const char* file, std::int32_t speedPercent, bool loop,
                                         std::string& error) try {
  if (file == nullptr || file[0] == '\0') {
    error = "no capture file named";
    return 0;
  }
  if (speedPercent < 0 || speedPercent > kMaxReplaySpeed) {
    error = std::string(file) + ": a replay's speed is 0 (as fast as read) to " +
            std::to_string(kMaxReplaySpeed) + " percent";
    return 0;
  }
  capture::Recording recording;
  if (!capture::ReadRecording(file, recording, error)) return 0;
  const auto streams =
      static_cast<std::int32_t>(std::min<std::size_t>(recording.streams.size(), kMaxTransmitters));
  std::int32_t lengths[kMaxTransmitters] = {};
  for (std::int32_t k = 0; k < streams; ++k) {
    lengths[k] = static_cast<std::int32_t>(recording.streams[k].reportLength);
    if (lengths[k] > kMaxReportLength) {
      error = std::string(file) + ": its input reports are longer than " +
              std::to_string(kMaxReportLength) + " bytes";
      return 0;
    }
  }
  auto session = std::make_shared<ReplaySession>(std::move(recording), speedPercent, loop);
  std::int32_t ids[2 + kMaxTransmitters] = {};
  if (!PlugReceiverInterfaces(lengths, streams, ids)) {
    error = std::string(file) + ": the virtual receiver has no room for another receiver";
    return 0;
  }
  LockGuard guard(lock_);
  for (std::int32_t k = 0; k < streams; ++k) {
    if (Interface* data = Find(ids[2 + k]))
      data->replay.Start(session, static_cast<std::size_t>(k));
  }
  return ids[2];
} catch (const std::bad_alloc&) {
  error = "the capture does not fit in memory";
  return 0;
}

std::int32_t VirtualReceiver::TakeOutput(std::int32_t id, std::uint8_t* buffer,
                                         std::int32_t capacity) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  if (record == nullptr) return -1;
  if (record->outputCount == 0) return 0;
  const std::uint32_t head = record->outputHead;
  const std::uint32_t length = record->outputLengths[head];
  if (buffer != nullptr && capacity > 0) {
    std::memcpy(buffer, &record->outputs[head * record->outputEntrySize],
                std::min<std::uint32_t>(length, static_cast<std::uint32_t>(capacity)));
  }
  record->outputHead = (head + 1) % kOutputLogReports;
  --record->outputCount;
  return static_cast<std::int32_t>(length);
}

bool VirtualReceiver::TransmitterState(std::int32_t id, ZAVNVirtualTransmitterState& out) {
  LockGuard guard(lock_);
  const Interface* record = Find(id);
  if (record == nullptr || !record->hasTransmitter) return false;
  out = record->model.State();
  return true;
}

bool VirtualReceiver::SetProduct(std::int32_t id, const char* product) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  return record != nullptr && StoreProduct(*record, product);
}

bool VirtualReceiver::SetFaults(std::int32_t id, std::int32_t faults) {
  LockGuard guard(lock_);
  Interface* record = Find(id);
  if (record == nullptr) return false;
  record->faults = faults;
  return true;
}

std::int32_t VirtualReceiver::OpenHandleCount(std::int32_t id) {
  LockGuard guard(lock_);
  const Interface* record = Find(id);
  return record == nullptr ? -1 : record->openHandles;
}

std::int32_t VirtualReceiver::OpenHandles() {
  LockGuard guard(lock_);
  std::int32_t open = 0;
  for (const HandleEntry& entry : handles_) open += entry.inUse ? 1 : 0;
  return open;
}

std::uint32_t VirtualReceiver::StaleHandleUses() {
  LockGuard guard(lock_);
  return staleHandleUses_;
}

bool VirtualReceiver::WatchInterfaces(InterfaceListener* listener) {
  LockGuard guard(lock_);
  listener_ = listener;
  return true;
}

PathResult VirtualReceiver::InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) {
  LockGuard guard(lock_);
  for (Interface& record : interfaces_) {
    if (record.id != 0) ApplyDue(record);
  }
  // The n-th plugged interface in plug order.
  std::uint64_t after = 0;
  for (std::uint32_t k = 0;; ++k) {
    const Interface* next = nullptr;
    for (const Interface& record : interfaces_) {
      if (record.id != 0 && record.plugged && record.plugOrder > after &&
          (next == nullptr || record.plugOrder < next->plugOrder)) {
        next = &record;
      }
    }
    if (next == nullptr) return PathResult::kEnd;
    if (k == n) {
      std::memcpy(path, next->path, kDevicePathSize);
      return PathResult::kFound;
    }
    after = next->plugOrder;
  }
}

HidHandle VirtualReceiver::Open(const char* path) {
  if (path == nullptr) return kInvalidHidHandle;
  LockGuard guard(lock_);
  Interface* target = nullptr;
  for (Interface& record : interfaces_) {
    if (record.id != 0 && record.plugged && std::strcmp(record.path, path) == 0) target = &record;
  }
  if (target == nullptr || (target->faults & kFaultOpen) != 0) return kInvalidHidHandle;
  for (std::uint32_t index = 0; index < static_cast<std::uint32_t>(kMaxHandles); ++index) {
    HandleEntry& entry = handles_[index];
    if (entry.inUse) continue;
    entry = {true, nextSerial_++, target->id, target->generation};
    ++target->openHandles;
    return (static_cast<HidHandle>(entry.serial) << kHandleIndexBits) | (index + 1);
  }
  return kInvalidHidHandle;
}

void VirtualReceiver::Close(HidHandle handle) {
  LockGuard guard(lock_);
  HandleEntry* entry = Entry(handle);
  if (entry == nullptr) return;
  entry->inUse = false;
  if (Interface* record = Find(entry->interfaceId)) --record->openHandles;
}

bool VirtualReceiver::Attributes(HidHandle handle, HidAttributes& out) {
  LockGuard guard(lock_);
  const Interface* record = Live(handle);
  if (record == nullptr || (record->faults & kFaultAttributes) != 0) {
    return false;
  }
  out = record->attributes;
  return true;
}

bool VirtualReceiver::Capabilities(HidHandle handle, HidCaps& out) {
  LockGuard guard(lock_);
  const Interface* record = Live(handle);
  if (record == nullptr || (record->faults & kFaultCapabilities) != 0) {
    return false;
  }
  out = record->caps;
  return true;
}

bool VirtualReceiver::NumInputBuffers(HidHandle handle, std::uint32_t& out) {
  LockGuard guard(lock_);
  const Interface* record = Live(handle);
  if (record == nullptr) return false;
  out = record->queueDepth;
  return true;
}

bool VirtualReceiver::SetNumInputBuffers(HidHandle handle, std::uint32_t count) {
  LockGuard guard(lock_);
  Interface* record = Live(handle);
  if (record == nullptr || count < kMinInputQueueReports || count > kMaxInputQueueReports) {
    return false;
  }
  record->queueDepth = count;
  while (record->inputCount > count) DropOldest(*record);
  return true;
}

bool VirtualReceiver::ProductString(HidHandle handle, void* buffer, std::uint32_t bytes) {
  LockGuard guard(lock_);
  const Interface* record = Live(handle);
  if (buffer == nullptr || record == nullptr || !record->hasProduct ||
      (record->faults & kFaultProduct) != 0) {
    return false;
  }
  // UTF-16LE with its terminator, as much as fits whole characters.
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::size_t length = std::strlen(record->product);
  const std::size_t chars = std::min<std::size_t>(length + 1, bytes / 2);
  for (std::size_t i = 0; i < chars; ++i) {
    out[2 * i] = i < length ? static_cast<std::uint8_t>(record->product[i]) : 0;
    out[2 * i + 1] = 0;
  }
  return true;
}

ReadOutcome VirtualReceiver::Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) {
  LockGuard guard(lock_);
  Interface* record = Live(handle);
  if (record == nullptr || (record->faults & kFaultRead) != 0) {
    return {ReadOutcome::kError, 0};
  }
  const std::uint32_t size = record->caps.inputReportLength;
  if (buffer == nullptr || size == 0 || bytes < size) return {ReadOutcome::kError, 0};
  PushDueStream(*record);
  if (record->inputCount == 0) return {ReadOutcome::kNothingYet, 0};
  const std::uint32_t taken = std::min(record->inputCount, bytes / size);
  for (std::uint32_t k = 0; k < taken; ++k) {
    std::memcpy(buffer + k * size, &record->inputs[record->inputHead * size], size);
    record->inputHead = (record->inputHead + 1) % kInputQueueCapacity;
  }
  record->inputCount -= taken;
  return {ReadOutcome::kDone, taken * size};
}

std::uint32_t VirtualReceiver::ReadyHandles(const HidHandle* handles, int count,
                                            std::uint64_t& untilDueUs) {
  std::uint32_t ready = 0;
  for (int k = 0; k < count; ++k) {
    // The poll thread waits without the slots' locks: a handle closed meanwhile is no misuse.
    const HandleEntry* entry = Entry(handles[k], false);
    Interface* record = entry == nullptr ? nullptr : Live(*entry);
    if (record == nullptr || (record->faults & kFaultRead) != 0) continue;
    PushDueStream(*record);
    if (record->inputCount != 0) ready |= 1u << k;
    untilDueUs = UsUntilDue(*record, untilDueUs);
  }
  return ready;
}

std::uint32_t VirtualReceiver::WaitForInput(const HidHandle* handles, int count, std::uint32_t ms) {
  // The time is counted in the waits themselves: the tick count may move in steps coarser than
  // the waits (10 to 16 ms on Windows).
  const std::uint64_t limit = std::uint64_t{ms} * kUsPerMs;
  std::uint64_t waited = 0;
  for (;;) {
    std::uint64_t untilDue = limit;
    {
      LockGuard guard(lock_);
      // Reports queued from here on raise the signal again.
      queued_.Lower();
      const std::uint32_t ready = ReadyHandles(handles, count, untilDue);
      if (ready != 0) return ready;
    }
    if (waited >= limit) return 0;
    // A transmitter's record comes due at a millisecond's turn: wait into that millisecond.
    const std::uint64_t slice = std::min(limit - waited, untilDue == 0 ? kUsPerMs : untilDue);
    if (!queued_.WaitUs(slice)) waited += slice;
  }
}

WriteOutcome VirtualReceiver::SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                              std::uint32_t length) {
  LockGuard guard(lock_);
  const HandleEntry* entry = Entry(handle);
  if (entry == nullptr) return {false, kErrorInvalidHandle};
  Interface* record = Live(*entry);
  if (record == nullptr || (record->faults & kFaultWrite) != 0) {
    return {false, kErrorDeviceNotConnected};
  }
  if (report == nullptr || length == 0 || length > record->outputEntrySize) {
    return {false, kErrorInvalidParameter};
  }
  if (record->outputCount == kOutputLogReports) {  // keep the newest reports
    record->outputHead = (record->outputHead + 1) % kOutputLogReports;
    --record->outputCount;
  }
  const std::uint32_t tail = (record->outputHead + record->outputCount) % kOutputLogReports;
  std::memcpy(&record->outputs[tail * record->outputEntrySize], report, length);
  record->outputLengths[tail] = length;
  ++record->outputCount;
  if (record->hasTransmitter) Answer(*record, report, length);
  return {true, 0};
}

}  // namespace zavn::platform::virt

// The exported control functions of the virtual receiver.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/virtual/virtual_receiver.h"
#include "zavn/zavn_virtual.h"

using zavn::platform::virt::Receiver;
using zavn::platform::virt::VirtualTransmitter;

static_assert(ZAVN_VIRTUAL_MAX_INTERFACES == zavn::platform::virt::kMaxInterfaces);
static_assert(ZAVN_VIRTUAL_MAX_REPORT_LENGTH == zavn::platform::virt::kMaxReportLength);
static_assert(ZAVN_VIRTUAL_INPUT_QUEUE == zavn::platform::virt::kInputQueueReports);
static_assert(ZAVN_VIRTUAL_OUTPUT_LOG == zavn::platform::virt::kOutputLogReports);
static_assert(ZAVN_REPLAY_MAX_SPEED == zavn::platform::virt::kMaxReplaySpeed);
static_assert(ZAVN_VIRTUAL_FAULT_OPEN == zavn::platform::virt::kFaultOpen &&
              ZAVN_VIRTUAL_FAULT_ATTRIBUTES == zavn::platform::virt::kFaultAttributes &&
              ZAVN_VIRTUAL_FAULT_CAPABILITIES == zavn::platform::virt::kFaultCapabilities &&
              ZAVN_VIRTUAL_FAULT_READ == zavn::platform::virt::kFaultRead &&
              ZAVN_VIRTUAL_FAULT_WRITE == zavn::platform::virt::kFaultWrite &&
              ZAVN_VIRTUAL_FAULT_PRODUCT == zavn::platform::virt::kFaultProduct);

extern "C" {

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSelect(int32_t on) {
  return zavn::platform::virt::Select(on != 0) ? 1 : 0;
}

ZAVN_API void ZAVN_CALL ZAVNVirtualClear(void) {
  Receiver().Clear();
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlug(int32_t vendorId, int32_t productId,
                                           int32_t inputReportLength, int32_t outputReportLength,
                                           const char* product) {
  return Receiver().Plug(vendorId, productId, inputReportLength, outputReportLength, product);
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualUnplug(int32_t id) {
  return Receiver().Unplug(id) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualReplug(int32_t id) {
  return Receiver().Replug(id) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlugReceiver(int32_t transmitters, int32_t rateHz) {
  return Receiver().PlugReceiver(transmitters, rateHz);
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlugReplay(const char* file, int32_t speedPercent,
                                                 int32_t loop, char* error, int32_t errorCapacity) {
  std::string message;
  const int32_t id = Receiver().PlugReplay(file, speedPercent, loop != 0, message);
  if (id == 0 && error != nullptr && errorCapacity > 0) {
    const std::size_t length =
        std::min(message.size(), static_cast<std::size_t>(errorCapacity) - 1);
    std::memcpy(error, message.data(), length);
    error[length] = '\0';
  }
  return id;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualQueueInput(int32_t id, const unsigned char* report,
                                                 int32_t length) {
  return Receiver().QueueInput(id, report, length) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualTakeOutput(int32_t id, unsigned char* buffer,
                                                 int32_t capacity) {
  return Receiver().TakeOutput(id, buffer, capacity);
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetProduct(int32_t id, const char* product) {
  return Receiver().SetProduct(id, product) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetFaults(int32_t id, int32_t faults) {
  return Receiver().SetFaults(id, faults) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualGetTransmitter(int32_t id, ZAVNVirtualTransmitterState* out) {
  return out != nullptr && Receiver().TransmitterState(id, *out) ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetMotion(int32_t id, const float* accelG,
                                                const float* gyroDps) {
  return Receiver().ChangeTransmitter(
             id, [&](VirtualTransmitter& t) { return t.HoldMotion(accelG, gyroDps); })
             ? 1
             : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetGyroBias(int32_t id, const float* biasDps) {
  return Receiver().ChangeTransmitter(id,
                                      [&](VirtualTransmitter& t) { return t.SetGyroBias(biasDps); })
             ? 1
             : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetSensorErrors(int32_t id, const float* scale,
                                                      const int32_t* zeroCounts) {
  return Receiver().ChangeTransmitter(
             id, [&](VirtualTransmitter& t) { return t.SetSensorErrors(scale, zeroCounts); })
             ? 1
             : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNVirtualOpenHandles(void) {
  return Receiver().OpenHandles();
}

}  // extern "C"

#include "transport/report_reader.h"

#include <atomic>

#include "platform/system.h"
#include "transport/capture.h"
#include "transport/hid_device.h"

namespace zavn::transport {
namespace {

// The current run of empty reads of one slot; all zero outside a run.
struct TimeoutRun {
  std::atomic<std::uint32_t> count{0};  // 0, 1 or 2: the count stops at 2
  std::atomic<std::uint32_t> firstTick{0};
  std::atomic<std::uint32_t> lastTick{0};
};

InputBuffer g_inputBuffers[kSlotCount];
TimeoutRun g_timeouts[kSlotCount];
// Reports were read between the last cycle and the next; written on the poll thread only.
std::atomic<bool> g_readBetweenCycles[kSlotCount];

// One read of the slot, its reports captured when a capture is under way.
ZAVNLinkState ReadReports(InputBuffer& buffer, int slot, std::uint32_t& bytes) {
  const ZAVNLinkState result = Slot(slot).ReadReports(buffer, bytes);
  if (result == LINK_OK && Capturing()) {
    CaptureInput(slot, buffer.data(), bytes, Slot(slot).ReportLengths().inputReportLength);
  }
  return result;
}

}  // namespace

InputBuffer& InputBufferOf(int slot) {
  return g_inputBuffers[slot];
}

ZAVNLinkState ReadSlot(InputBuffer& buffer, int slot, std::uint32_t* bytes) {
  std::uint32_t delivered = 0;
  ZAVNLinkState result = ReadReports(buffer, slot, delivered);
  if (bytes != nullptr) *bytes = delivered;
  if (g_readBetweenCycles[slot].exchange(false) && result == LINK_TIMEOUT) result = LINK_OK;
  TimeoutRun& run = g_timeouts[slot];
  if (result != LINK_TIMEOUT) {
    run.count = 0;
    run.firstTick = 0;
    run.lastTick = 0;
    return result;
  }
  const std::uint32_t now = platform::ActiveSystem().TickMs();
  if (run.count == 0) {
    run.count = 1;
    run.firstTick = now;
  } else {
    run.count = 2;
  }
  run.lastTick = now;
  // Unsigned difference: correct across the tick's wrap-around.
  return run.lastTick - run.firstTick > kTimeoutGraceMs ? LINK_TIMEOUT : LINK_OK;
}

bool ReadWasFull(int slot, std::uint32_t bytes) {
  const std::uint32_t requested = ReadRequestBytes(Slot(slot).ReportLengths().inputReportLength);
  return requested != 0 && bytes >= requested;
}

ZAVNLinkState ReadSlotAgain(InputBuffer& buffer, int slot, std::uint32_t& bytes) {
  bytes = 0;
  return ReadReports(buffer, slot, bytes);
}

ZAVNLinkState ReadSlotBetweenCycles(InputBuffer& buffer, int slot, std::uint32_t& bytes) {
  const ZAVNLinkState result = ReadSlotAgain(buffer, slot, bytes);
  if (result == LINK_OK) g_readBetweenCycles[slot] = true;
  return result;
}

void ResetReportReader() {
  for (InputBuffer& buffer : g_inputBuffers) buffer.fill(0);
  for (std::atomic<bool>& read : g_readBetweenCycles) read = false;
  for (TimeoutRun& run : g_timeouts) {
    run.count = 0;
    run.firstTick = 0;
    run.lastTick = 0;
  }
}

}  // namespace zavn::transport

#include "input/acknowledgements.h"

#include <atomic>

#include "transport/hid_device.h"

#include "zavn/zavn_firmware.h"

namespace zavn::input {
namespace {

using SlotFlags = std::atomic<std::int32_t>[transport::kSlotCount];
SlotFlags g_harlonAck = {1, 1, 1, 1};
SlotFlags g_vukAck = {1, 1, 1, 1};

bool InRange(std::int32_t slot) {
  return slot >= 1 && slot <= transport::kSlotCount;
}

}  // namespace

void GrantAcknowledgements(std::int32_t slot) {
  if (!InRange(slot)) return;
  g_harlonAck[slot - 1] = 1;
  g_vukAck[slot - 1] = 1;
}

std::int32_t TakeHarlonAck(std::int32_t slot) {
  return InRange(slot) ? g_harlonAck[slot - 1].exchange(0) : 0;
}

std::int32_t TakeVUKAck(std::int32_t slot) {
  return InRange(slot) ? g_vukAck[slot - 1].exchange(0) : 0;
}

void ResetAcknowledgements() {
  for (int k = 0; k < transport::kSlotCount; ++k) {
    g_harlonAck[k] = 1;
    g_vukAck[k] = 1;
  }
}

}  // namespace zavn::input

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNCheckHarlonCHKAK(int32_t slot) {
  return zavn::input::TakeHarlonAck(slot);
}

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNCheckVUKCHKAK(int32_t slot) {
  return zavn::input::TakeVUKAck(slot);
}

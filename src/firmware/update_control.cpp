#include "firmware/update_control.h"

#include <atomic>

#include "firmware/update_machine.h"
#include "input/status_records.h"
#include "transport/link_table.h"
#include "zavn/zavn_firmware.h"

namespace zavn::firmware {
namespace {

using SlotWords = std::atomic<std::int32_t>[kUpdateSlots];
SlotWords g_updateMode{};
SlotWords g_bootloaderStatus{};
// Moves on whenever a slot's run starts or stops; the poll thread drops the serial number kept
// by the slot's machine when it finds it moved.
SlotWords g_runChanges{};
std::int32_t g_runChangesSeen[kUpdateSlots] = {};  // the poll thread's

bool InRange(std::int32_t slot) {
  return slot >= 1 && slot <= kUpdateSlots;
}

}  // namespace

void RunUpdateMachines() {
  for (std::int32_t slot = 1; slot <= kUpdateSlots; ++slot) {
    const std::int32_t mode = g_updateMode[slot - 1];
    // Read after the mode: the change that came with the mode read is seen.
    const std::int32_t changes = g_runChanges[slot - 1];
    if (changes != g_runChangesSeen[slot - 1]) {
      g_runChangesSeen[slot - 1] = changes;
      ForgetKeptSerial(slot);
    }
    if (mode != ZAVN_UPDATE_RUN && mode != ZAVN_UPDATE_RESET) continue;
    const std::int32_t link = transport::Links().rxStatus[slot - 1];
    const std::int32_t machine = mode == ZAVN_UPDATE_RUN ? slot : kResetAllSlots;
    g_bootloaderStatus[slot - 1] = UpdateMachine(link, machine, input::LibraryStatus(slot));
  }
}

void ResetUpdateControl() {
  for (int k = 0; k < kUpdateSlots; ++k) {
    g_updateMode[k] = 0;
    g_bootloaderStatus[k] = 0;
  }
}

}  // namespace zavn::firmware

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNBootLoaderFSM(int32_t slot, int32_t mode) {
  using namespace zavn::firmware;
  if (!InRange(slot)) return 0;
  // Every mode but a 1 after a 1 starts or stops a run. The change is counted before the mode
  // is stored, so that a cycle which reads the new mode also finds the change.
  if (mode != ZAVN_UPDATE_RUN || g_updateMode[slot - 1] != ZAVN_UPDATE_RUN) {
    ++g_runChanges[slot - 1];
  }
  g_updateMode[slot - 1] = mode;
  return 1;
}

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNGetBootloaderStatus(int32_t slot) {
  using namespace zavn::firmware;
  return InRange(slot) ? g_bootloaderStatus[slot - 1].load() : 0;
}

// The per-slot firmware update machine: finds out what kind of receiver sits in a slot and
// drives the job that kind needs. One pass per poll cycle, on the poll thread.
#pragma once

#include <cstdint>

#include "transport/hid_device.h"
#include "zavn/zavn_status.h"

namespace zavn::firmware {

// One machine per device slot, numbered 1..4.
inline constexpr int kUpdateSlots = transport::kSlotCount;

enum UpdateState : std::int32_t {
  UPD_IDLE,
  UPD_IDENTIFY,
  UPD_READ_SERIAL,
  UPD_END_SERIAL_READ,
  UPD_ERASE,
  UPD_SEND_HARLON,
  UPD_BOOT_START,
  UPD_BOOT_STEP1,
  UPD_BOOT_STEP2,
  UPD_SEND_VUK,
  UPD_SEND_CHECKSUM,
  UPD_BOOT_FINISH,
  UPD_WRITE_SERIAL,
  UPD_END_SERIAL_WRITE,
  UPD_DONE,
  kUpdateStateCount
};

inline constexpr std::int32_t kHarlonProgressStart = 30;
inline constexpr std::int32_t kVUKProgressStart = 56;

struct UpdateSlotState {
  std::int32_t state = UPD_IDLE;
  std::int32_t reachedFlags[kUpdateStateCount] = {};  // a state's handler has run
  std::int32_t harlonRow = 0;
  std::int32_t vukLine = 0;
  std::int32_t checksumTries = 0;
  std::int32_t harlonProgress = kHarlonProgressStart;
  std::uint32_t harlonProgressMark = 0;
  std::int32_t vukProgress = kVUKProgressStart;
  std::uint32_t vukProgressMark = 0;
};

// The value in place of a slot number that makes a pass reset every slot's machine.
inline constexpr std::int32_t kResetAllSlots = 100;

// One pass for slot 1..4 (or kResetAllSlots): `link` is the slot's link state, `status` the
// slot's decoded record. Returns the slot's progress percentage (0 for the reset pass and for a
// slot out of range). With placeholder images, a slot open outside the virtual receiver keeps its
// machine at the start and sends nothing.
std::int32_t UpdateMachine(std::int32_t link, std::int32_t slot, const PlayerStatus& status);

// Every slot's machine at its start, the identification buffers and the line buffers emptied.
void ResetAllUpdateSlots();

// For tests and diagnostics: the machine of slot 1..4, read on the poll thread or while it is
// parked.
const UpdateSlotState& UpdateSlot(std::int32_t slot);

}  // namespace zavn::firmware

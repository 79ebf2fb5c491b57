// The per-slot firmware update machine: finds out what kind of receiver sits in a slot and
// drives the job that kind needs. One pass per poll cycle, on the poll thread.
//
// A step that gives the receiver time to act sets a due time instead of sleeping: until it has
// come, the slot's passes only report the progress, and the poll thread goes on reading every
// slot meanwhile. A phase that the receiver has to finish in one go (the serial read and erase,
// an image, the serial write-back) is dropped when the slot takes another interface, since the
// receiver may have restarted: the machine identifies it anew and starts that phase again.
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

// How long an image phase waits for the receiver's grant of the next row or line before it is
// started again.
inline constexpr std::uint32_t kGrantTimeoutMs = 2000;

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
  // No handler runs before dueTick while paused, pauseMs after the report went out: the pause
  // starts again while the writer has not written reportsQueued reports.
  bool paused = false;
  std::uint32_t dueTick = 0;
  std::uint32_t pauseMs = 0;
  std::uint32_t reportsQueued = 0;
  // Of the machine's last report to the receiver, or of the identification: a grant is awaited
  // from then on.
  std::uint32_t lastSentTick = 0;
  bool serialQueried = false;       // the serial query is out; its answer is read when due
  std::uint32_t receiverTakes = 0;  // the slot's Takes() when the receiver was identified
  std::uint32_t imageSum = 0;       // the data bytes of this transfer's HEX lines
  // The serial number read before the erase, written back at the end. Kept for the update run
  // that read it only: dropped when the run is done and by ForgetKeptSerial.
  bool serialKept = false;
  std::uint8_t keptSerial[sizeof(PlayerStatus::SerialBlock)] = {};
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

// Drops the serial number slot 1..4's machine keeps for its write-back, as the update run that
// read it has ended; the machine stays in its state. On the poll thread or while it is stopped.
void ForgetKeptSerial(std::int32_t slot);

// For tests and diagnostics: the machine of slot 1..4, read on the poll thread or while it is
// parked.
const UpdateSlotState& UpdateSlot(std::int32_t slot);

}  // namespace zavn::firmware

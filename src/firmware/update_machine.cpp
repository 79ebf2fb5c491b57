#include "firmware/update_machine.h"

#include <cstring>

#include "commands/image_checksum.h"
#include "commands/output_reports.h"
#include "commands/senders.h"
#include "firmware/images.h"
#include "firmware/vuk_hex_writer.h"
#include "input/acknowledgements.h"
#include "platform/system.h"
#include "transport/hid_device.h"
#include "transport/product_string.h"
#include "transport/queued_writes.h"
#include "zavn/zavn.h"

namespace zavn::firmware {
namespace {

// Pauses after a step, for the receiver to act on it; a row or line goes out no sooner than
// kRowPauseMs after the report before it.
constexpr std::uint32_t kRowPauseMs = 1;
constexpr std::uint32_t kCommandPauseMs = 300;
constexpr std::uint32_t kErasePauseMs = 500;
constexpr std::uint32_t kFinishPauseMs = 1000;

// Serial-number sub-commands and boot-command selectors of the update.
constexpr std::int32_t kSerialRead = 3;
constexpr std::int32_t kSerialEnd = 0;
constexpr std::int32_t kSerialWrite = 2;
constexpr int kBootStep1 = 0, kBootStep2 = 1, kBootFinish = 2, kBootChecksum = 3;
// The first 15 serial bytes must all be non-zero before the serial number counts as read.
constexpr int kSerialBytesChecked = 15;
// What the receiver answers in BootBlock[6], [7] once it has accepted the checksum.
constexpr std::uint8_t kConfirmation[2] = {0x79, 0x85};
constexpr int kConfirmationByte = 6;
constexpr std::int32_t kMaxChecksumTries = 100;
constexpr std::uint8_t kEraseCommand[commands::kMotorBytes] = {commands::kMotorEraseTrigger};
constexpr std::uint32_t kProgressRecords = 150;

UpdateSlotState g_slots[kUpdateSlots];
// Scratch copies of the row or line being written, shared by all slots.
char g_harlonLineBuffer[ZAVN_IMAGE_LINE_BYTES];
char g_vukLineBuffer[ZAVN_IMAGE_LINE_BYTES];

// The receiver gets `ms` after the report just sent before the machine's next step.
void PauseAfterSend(UpdateSlotState& s, std::uint32_t now, std::uint32_t ms) {
  s.lastSentTick = now;
  s.paused = true;
  s.pauseMs = ms;
  s.dueTick = now + ms;
  s.reportsQueued = transport::ReportsQueued();
}

// Whether the pause, if any, has passed; ends it then. The pause runs from when the report went
// out: while the writer's thread still holds it, the pause starts again.
bool Due(UpdateSlotState& s, std::uint32_t now) {
  if (s.paused && !transport::ReportsWritten(s.reportsQueued)) s.dueTick = now + s.pauseMs;
  if (s.paused && static_cast<std::int32_t>(now - s.dueTick) < 0) return false;
  s.paused = false;
  return true;
}

// Whether the report was written.
bool SendBoot(std::int32_t slot, int selector, std::uint32_t checksum = 0) {
  return commands::Send(slot, commands::BuildBootCommand(selector, checksum)).written;
}

void ForgetSerial(UpdateSlotState& s) {
  s.serialKept = false;
  std::memset(s.keptSerial, 0, sizeof s.keptSerial);
}

bool SerialComplete(const PlayerStatus& status) {
  for (int k = 0; k < kSerialBytesChecked; ++k) {
    if (status.SerialBlock[k] == 0) return false;
  }
  return true;
}

bool Confirmed(const PlayerStatus& status) {
  return status.BootBlock[kConfirmationByte] == kConfirmation[0] &&
         status.BootBlock[kConfirmationByte + 1] == kConfirmation[1];
}

UpdateState Identify(std::int32_t slot) {
  switch (transport::ClassifyProductString(slot)) {
    case transport::PRODUCT_DONGLE:
      return UPD_READ_SERIAL;
    case transport::PRODUCT_NRF_DONGLE:
      return UPD_SEND_HARLON;
    case transport::PRODUCT_BOOTLOADER:
      return UPD_BOOT_START;
    case transport::PRODUCT_Z:
      return UPD_WRITE_SERIAL;
    default:
      return UPD_IDLE;
  }
}

bool IsEndRow(int row) {
  return HarlonImage[row][0] == 'e';
}
bool IsLine(int line) {
  return VUKImage[line][0] == ':';
}

// An image phase without a grant for too long starts again from the identification.
UpdateState AwaitGrant(UpdateSlotState& s, std::uint32_t now, UpdateState waiting) {
  return now - s.lastSentTick > kGrantTimeoutMs ? UPD_IDLE : waiting;
}

// Sends the next row when the receiver has granted it; one grant per row.
UpdateState SendHarlonRow(std::int32_t slot, UpdateSlotState& s, std::uint32_t now) {
  if (!IsEndRow(s.harlonRow)) {
    if (input::TakeHarlonAck(slot) == 0) return AwaitGrant(s, now, UPD_SEND_HARLON);
    ZAVNWriteHarlonHex(slot, g_harlonLineBuffer, HarlonImage[s.harlonRow]);
    ++s.harlonRow;
    PauseAfterSend(s, now, kRowPauseMs);
  }
  return s.harlonRow == kHarlonRows ? UPD_IDLE : UPD_SEND_HARLON;
}

// Sends the next line while lines begin with ':' and the receiver has granted it; one grant per
// line. The machine keeps the sum of the lines of this transfer for its checksum report.
UpdateState SendVUKLine(std::int32_t slot, UpdateSlotState& s, std::uint32_t now) {
  if (IsLine(s.vukLine)) {
    if (input::TakeVUKAck(slot) == 0) return AwaitGrant(s, now, UPD_SEND_VUK);
    // The writer reads 64 bytes: give it the line in a copy of that size.
    char line[ZAVN_IMAGE_LINE_BYTES] = {};
    std::memcpy(line, VUKImage[s.vukLine], kVUKLineSlot);
    s.imageSum += WriteVUKLine(slot, g_vukLineBuffer, line);
    ++s.vukLine;
    PauseAfterSend(s, now, kRowPauseMs);
  }
  return s.vukLine == kVUKLines ? UPD_SEND_CHECKSUM : UPD_SEND_VUK;
}

// Tests the answer to the checksum report before this one, then sends this one; the host reads
// the sum of the last one written.
UpdateState SendChecksum(std::int32_t slot, UpdateSlotState& s, const PlayerStatus& status,
                         std::uint32_t now) {
  if (SendBoot(slot, kBootChecksum, s.imageSum)) commands::SentChecksum() = s.imageSum;
  const bool confirmed = Confirmed(status);
  const std::int32_t tries = s.checksumTries++;
  PauseAfterSend(s, now, kCommandPauseMs);
  if (confirmed) return UPD_BOOT_FINISH;
  return tries > kMaxChecksumTries ? UPD_BOOT_STEP1 : UPD_SEND_CHECKSUM;
}

// Reads the serial number once the query's answer is due; sends the query otherwise.
UpdateState ReadSerial(std::int32_t slot, UpdateSlotState& s, const PlayerStatus& status,
                       std::uint32_t now) {
  if (!s.serialQueried) {
    commands::SendSerialQuery(slot, kSerialRead);
    s.serialQueried = true;
    PauseAfterSend(s, now, kCommandPauseMs);
    return UPD_READ_SERIAL;
  }
  s.serialQueried = false;
  if (!SerialComplete(status)) return UPD_READ_SERIAL;
  std::memcpy(s.keptSerial, status.SerialBlock, sizeof s.keptSerial);
  s.serialKept = true;
  return UPD_END_SERIAL_READ;
}

// Whether the slot has taken another interface since the receiver was identified: a phase under
// way is then lost with the receiver's restart.
bool ReceiverChanged(std::int32_t slot, const UpdateSlotState& s) {
  return s.state != UPD_IDLE && s.state != UPD_IDENTIFY &&
         transport::Slot(slot - 1).Takes() != s.receiverTakes;
}

// Runs the handler of the slot's state and returns the next state; sets the flags it reaches.
UpdateState RunHandler(std::int32_t link, std::int32_t slot, UpdateSlotState& s,
                       const PlayerStatus& status, std::uint32_t now) {
  const auto state = static_cast<UpdateState>(s.state);
  const bool linkUp = link == LINK_OK;
  UpdateState next = state;
  bool reached = true;
  switch (state) {
    case UPD_IDLE:
      next = linkUp ? UPD_IDENTIFY : UPD_IDLE;
      break;
    case UPD_IDENTIFY:
      s.receiverTakes = transport::Slot(slot - 1).Takes();
      next = Identify(slot);
      // A table image always goes out whole, from its first row, which needs no grant.
      if (next == UPD_SEND_HARLON) {
        s.harlonRow = 0;
        input::GrantAcknowledgements(slot);
      }
      s.lastSentTick = now;
      s.reachedFlags[UPD_READ_SERIAL] = 1;
      break;
    case UPD_READ_SERIAL:
      next = ReadSerial(slot, s, status, now);
      break;
    case UPD_END_SERIAL_READ:
      commands::SendSerialQuery(slot, kSerialEnd);
      PauseAfterSend(s, now, kCommandPauseMs);
      next = UPD_ERASE;
      break;
    case UPD_ERASE:
      commands::SendMotorAction(slot, kEraseCommand);
      PauseAfterSend(s, now, kErasePauseMs);
      next = UPD_IDLE;
      break;
    case UPD_SEND_HARLON:
      next = SendHarlonRow(slot, s, now);
      break;
    case UPD_BOOT_START:
      next = UPD_BOOT_STEP1;
      break;
    case UPD_BOOT_STEP1:
      // The first step opens a transfer: the HEX image goes out whole, from its first line,
      // which needs no grant.
      SendBoot(slot, kBootStep1);
      s.checksumTries = 0;
      s.vukLine = 0;
      s.imageSum = 0;
      input::GrantAcknowledgements(slot);
      PauseAfterSend(s, now, kCommandPauseMs);
      next = UPD_BOOT_STEP2;
      break;
    case UPD_BOOT_STEP2:
      SendBoot(slot, kBootStep2);
      PauseAfterSend(s, now, kCommandPauseMs);
      next = UPD_SEND_VUK;
      break;
    case UPD_SEND_VUK:
      next = SendVUKLine(slot, s, now);
      break;
    case UPD_SEND_CHECKSUM:
      next = SendChecksum(slot, s, status, now);
      break;
    case UPD_BOOT_FINISH:
      SendBoot(slot, kBootFinish);
      PauseAfterSend(s, now, kFinishPauseMs);
      next = UPD_IDLE;
      break;
    case UPD_WRITE_SERIAL:
      commands::SendSerialData(kSerialWrite, slot,
                               s.serialKept ? s.keptSerial : status.SerialBlock);
      PauseAfterSend(s, now, kCommandPauseMs);
      next = UPD_END_SERIAL_WRITE;
      break;
    case UPD_END_SERIAL_WRITE:
      commands::SendSerialData(kSerialEnd, slot, nullptr);
      PauseAfterSend(s, now, kCommandPauseMs);
      next = linkUp ? UPD_DONE : UPD_IDLE;
      reached = linkUp;
      // Done, the run has no more use for the serial number; it is not the next receiver's.
      if (linkUp) ForgetSerial(s);
      break;
    case UPD_DONE:
      next = linkUp ? UPD_DONE : UPD_IDLE;
      reached = linkUp;
      break;
    default:  // not a state: start again
      return UPD_IDLE;
  }
  if (reached) s.reachedFlags[state] = 1;
  return next;
}

// Adds 1 when the slot has decoded more than 150 records since the last step.
std::int32_t Creep(std::int32_t& progress, std::uint32_t& mark, const PlayerStatus& status) {
  const auto records = static_cast<std::uint32_t>(status.RecordCount);
  if (records - mark > kProgressRecords) {
    ++progress;
    mark = records;
  }
  return progress;
}

// The percentage of the highest state reached (the idle state's flag does not count).
std::int32_t UpdateProgress(UpdateSlotState& s, const PlayerStatus& status) {
  static constexpr std::int32_t kStepPercent[kUpdateStateCount] = {0,  7,  14, 21, 28, -1, 42, 49,
                                                                   56, -1, 70, 77, 84, 91, 100};
  for (int state = UPD_DONE; state > UPD_IDLE; --state) {
    if (s.reachedFlags[state] == 0) continue;
    if (state == UPD_SEND_VUK) return Creep(s.vukProgress, s.vukProgressMark, status);
    if (state == UPD_SEND_HARLON) return Creep(s.harlonProgress, s.harlonProgressMark, status);
    return kStepPercent[state];
  }
  return 0;
}

}  // namespace

std::int32_t UpdateMachine(std::int32_t link, std::int32_t slot, const PlayerStatus& status) {
  if (slot == kResetAllSlots) {
    ResetAllUpdateSlots();
    return 0;
  }
  if (slot < 1 || slot > kUpdateSlots) return 0;
  UpdateSlotState& s = g_slots[slot - 1];
  // Placeholder images must never reach a real receiver: a slot open on any port but the
  // virtual receiver keeps its machine at the start, whatever state it had reached.
  if (ImagesArePlaceholders() && transport::Slot(slot - 1).OpenOutsideVirtualReceiver()) {
    s = {};
    return 0;
  }
  const std::uint32_t now = platform::ActiveSystem().TickMs();
  if (Due(s, now)) {
    if (ReceiverChanged(slot, s)) {
      s.state = UPD_IDLE;
      s.serialQueried = false;
    }
    s.state = RunHandler(link, slot, s, status, now);
  }
  return UpdateProgress(s, status);
}

void ResetAllUpdateSlots() {
  for (UpdateSlotState& s : g_slots) s = {};
  transport::ResetProductStringBuffers();
  std::memset(g_harlonLineBuffer, 0, sizeof g_harlonLineBuffer);
  std::memset(g_vukLineBuffer, 0, sizeof g_vukLineBuffer);
}

void ForgetKeptSerial(std::int32_t slot) {
  if (slot >= 1 && slot <= kUpdateSlots) ForgetSerial(g_slots[slot - 1]);
}

const UpdateSlotState& UpdateSlot(std::int32_t slot) {
  return g_slots[slot - 1];
}

}  // namespace zavn::firmware

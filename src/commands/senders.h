// Sending a report under the output-report write convention, and the send operations that the
// exported functions and the update machine share.
#pragma once

#include <cstdint>

#include "commands/output_reports.h"
#include "platform/hid_port.h"
#include "transport/queued_writes.h"
#include "transport/report_writer.h"

namespace zavn::commands {

// Writes the whole report to the slot of player 1..4; anything else gets nothing.
template <std::size_t Length>
platform::WriteOutcome Send(std::int32_t playerIndex, const Report<Length>& report) {
  static_assert(Length <= transport::kMaxQueuedReportBytes);
  return transport::WriteOutputReport(playerIndex, report.data(),
                                      static_cast<std::uint32_t>(Length));
}

// What every mode switch returns.
inline constexpr std::int32_t kSwitchResult = 1;
// A mode switch `reportId value`; returns kSwitchResult.
std::int32_t SendSwitch(std::int32_t playerIndex, std::uint8_t reportId, std::int32_t value);
// The serial-number query with the fixed text.
void SendSerialQuery(std::int32_t playerIndex, std::int32_t subCommand);
// Serial-number data: sub-command 2 carries the 16 bytes at `serial` (nothing is sent when it
// is null); every other sub-command carries 16 zero bytes and does not read `serial`.
void SendSerialData(std::int32_t subCommand, std::int32_t playerIndex, const std::uint8_t* serial);
// The motor report, or its erase form when bytes[0] is 'E'; nothing for a null pointer.
// Returns 16 in every case.
std::int32_t SendMotorAction(std::int32_t playerIndex, const std::uint8_t* bytes);
// The boot command of selector 0..4 (selector 3 carries VUKChecksum). Returns 0 when nothing
// was sent (slot not open or not usable, selector or player out of range), 1 when the report
// was written, else the system's error code.
std::int32_t SendBootCommand(std::int32_t selector, std::int32_t playerIndex);

}  // namespace zavn::commands

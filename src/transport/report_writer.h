// The output-report write convention that every sender uses.
#pragma once

#include <cstdint>

#include "platform/hid_port.h"

namespace zavn::transport {

// Writes one report (report ID first, exactly `length` bytes, never padded to the interface's
// output length) to the slot of player 1..4. A player outside 1..4 or a slot not open gets
// nothing; a slot marked open without a usable handle is closed and gets nothing. The outcome
// is for the one sender that reports it; the others drop it. On the poll thread the report is
// queued for the writer's thread (queued_writes.h), and the outcome says whether it was.
platform::WriteOutcome WriteOutputReport(std::int32_t playerIndex, const std::uint8_t* report,
                                         std::uint32_t length);

}  // namespace zavn::transport

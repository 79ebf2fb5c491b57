// Reading a slot's queued input reports, with the time-out debounce: a run of empty reads
// counts as LINK_OK for its first 500 ms.
#pragma once

#include <cstdint>

#include "transport/input_buffer.h"
#include "zavn/zavn.h"

namespace zavn::transport {

inline constexpr std::uint32_t kTimeoutGraceMs = 500;

// The slot's input buffer (index 0..3). The decoder reads all of it and clears it after use.
InputBuffer& InputBufferOf(int slot);

// One read of slot 0..3 into its buffer: LINK_OK, LINK_NO_DEVICE, LINK_READ_ERROR, or
// LINK_TIMEOUT once empty reads have lasted more than kTimeoutGraceMs. `bytes`, when given,
// receives how many bytes the read delivered (0 unless a read took reports).
ZAVNLinkState ReadSlot(InputBuffer& buffer, int slot, std::uint32_t* bytes = nullptr);

// Whether a read of slot 0..3 that delivered `bytes` filled its request: more may be queued.
bool ReadWasFull(int slot, std::uint32_t bytes);
// Another read of slot 0..3 in the same pass, after a full one: the time-out run is left as it
// is, since the read before it found reports.
ZAVNLinkState ReadSlotAgain(InputBuffer& buffer, int slot, std::uint32_t& bytes);
// A read of slot 0..3 between two cycles, when its reports arrive. Reports it takes count for
// the next cycle's read: a cycle whose own read finds nothing after them is not silent.
ZAVNLinkState ReadSlotBetweenCycles(InputBuffer& buffer, int slot, std::uint32_t& bytes);

// Zeroes the input buffers and the time-out runs.
void ResetReportReader();

}  // namespace zavn::transport

// VUKChecksum: the sum that the Intel HEX image writer accumulates over the bytes it sends, and
// that the host's boot command of selector 3 carries. SentChecksum: the sum that the last
// checksum report carried, the update machine's or the host's.
#pragma once

#include <atomic>
#include <cstdint>

namespace zavn::commands {

// Written by the image writer on the poll thread, read by host threads.
std::atomic<std::uint32_t>& VUKChecksum();

// The sum in the last checksum report written (0 before any), as ZAVNGetVUKAppCheckSum gives
// it. Written by the poll thread and by host threads.
std::atomic<std::uint32_t>& SentChecksum();

void ResetImageChecksum();  // both 0

}  // namespace zavn::commands

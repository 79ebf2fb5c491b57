// VUKChecksum: the sum that the Intel HEX image writer accumulates over the bytes it sends, and
// that the boot command of selector 3 carries.
#pragma once

#include <atomic>
#include <cstdint>

namespace zavn::commands {

// Written by the image writer on the poll thread, read by host threads.
std::atomic<std::uint32_t>& VUKChecksum();

void ResetImageChecksum();  // 0

}  // namespace zavn::commands

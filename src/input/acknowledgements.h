// The per-slot grants to send one more image row or line: raised by every boot-loader record the
// receiver sends, consumed by the update machine (and by the host's checks).
#pragma once

#include <cstdint>

namespace zavn::input {

// Slot 1..4. Called by the decoder for each boot-loader record of the slot.
void GrantAcknowledgements(std::int32_t slot);
// Returns the slot's grant and clears it.
std::int32_t TakeHarlonAck(std::int32_t slot);
std::int32_t TakeVUKAck(std::int32_t slot);

// Every grant 1: each slot may send one row and one line.
void ResetAcknowledgements();

}  // namespace zavn::input

// The input decoder: walks a slot's buffer of consecutive input reports and folds every record
// it recognises into the player's PlayerStatus.
#pragma once

#include <cstdint>

#include "transport/input_buffer.h"

namespace zavn::input {

// Decodes the buffer into player 1..4's record under the status lock, then zeroes the buffer.
// Reads nothing outside the buffer and allocates nothing.
void Decode(transport::InputBuffer& buffer, std::int32_t player);

// The held extension triples and the last motion position back to 0.
void ResetDecoderState();

}  // namespace zavn::input

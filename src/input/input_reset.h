// The input folder's part of the status reset.
#pragma once

namespace zavn::input {

// Records, decoder state, motion samples, rate meter and report modes to their defaults.
// Callbacks and the motion profile stay.
void ResetInputState();

}  // namespace zavn::input

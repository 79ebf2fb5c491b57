// The input folder's part of the status reset.
#pragma once

namespace zavn::input {

// Records, decoder state, rate meter and report modes to their defaults. Callbacks stay.
void ResetInputState();

}  // namespace zavn::input

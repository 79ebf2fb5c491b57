// The receiver's HID product string and the receiver kinds it announces.
#pragma once

#include <cstdint>

namespace zavn::transport {

inline constexpr std::uint32_t kProductStringBytes = 255;

enum ProductKind {
  PRODUCT_DONGLE,      // "NOLTADongle": normal firmware
  PRODUCT_NRF_DONGLE,  // "nRFUSBDongle": the radio chip maker's generic dongle name
  PRODUCT_BOOTLOADER,  // "NOLTABootloader": the receiver's boot loader
  PRODUCT_Z,           // "NOLTAZ"
  PRODUCT_OTHER,       // anything else, or no string
};

// Reads the product string of player 1..4 and classifies its ASCII letters (every other byte
// is dropped, so spaces and digits among the letters do not matter; case does). Any other
// player gives PRODUCT_OTHER.
ProductKind ClassifyProductString(std::int32_t playerIndex);

// Empties the per-player buffers that classification keeps.
void ResetProductStringBuffers();

}  // namespace zavn::transport

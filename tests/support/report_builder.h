// Builds input buffers byte by byte, as the receiver would fill them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/virtual/virtual_transmitter.h"
#include "transport/input_buffer.h"

namespace zavn::testing {

using MotionValues = std::array<std::uint16_t, 6>;  // in report order

inline void PutU16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

// A motion record in the report that starts at `report`; marker '2' makes it secondary.
inline void PutMotion(std::uint8_t* report, const MotionValues& values, std::uint8_t marker = 0) {
  report[0] = 0x02;
  report[1] = marker;
  report[3] = 'A';
  for (int k = 0; k < 6; ++k) PutU16(report + 4 + 2 * k, values[k]);
}

// An identity reply (letter 'R', 'V' or 'D') with `payload` from L+1.
inline void PutReply(std::uint8_t* report, std::uint8_t letter, const std::uint8_t* payload,
                     std::size_t bytes) {
  report[0] = 0x02;
  report[3] = letter;
  std::memcpy(report + 4, payload, bytes);
}

// The extension record at byte 32 of a long report.
inline void PutExtension(std::uint8_t* report, std::array<std::uint16_t, 3> triple, bool valid,
                         std::uint8_t flags = 0) {
  std::uint8_t* letter = report + 32;
  letter[0] = 'J';
  for (int k = 0; k < 3; ++k) PutU16(letter + 7 + 2 * k, triple[k]);
  letter[15] = static_cast<std::uint8_t>((valid ? 0x80 : 0) | flags);
}

// A report's sample number, where the virtual transmitters put it.
inline std::uint32_t SampleOf(const std::uint8_t* report) {
  const std::uint8_t* n = report + platform::virt::kSampleNumberByte;
  return static_cast<std::uint32_t>(n[0]) << 24 | n[1] << 16 | n[2] << 8 | n[3];
}

}  // namespace zavn::testing

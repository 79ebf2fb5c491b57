// The capture file's layout: pcapng blocks holding the receiver's reports as Linux usbmon
// packets (the memory-mapped header of 64 bytes, link type 220), so that Wireshark and tshark
// show them as USB traffic: each input report an interrupt-IN completion, each output report an
// interrupt-OUT submission, the slot as the device address. Every field is little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zavn::platform::capture {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
inline constexpr std::uint32_t kInterfaceBlock = 1;
inline constexpr std::uint32_t kStatisticsBlock = 5;
inline constexpr std::uint32_t kEnhancedPacketBlock = 6;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint16_t kLinkTypeUsbLinuxMmapped = 220;
inline constexpr std::uint16_t kEndOfOptions = 0;
// An interface's time unit: 10^-value seconds, or 2^-value with the top bit set.
inline constexpr std::uint16_t kIfTimestampResolution = 9;
inline constexpr std::uint8_t kMicroseconds = 6;

// The usbmon packet header that precedes each report.
inline constexpr std::size_t kUsbmonHeaderLength = 64;
inline constexpr std::uint8_t kUrbComplete = 'C';
inline constexpr std::uint8_t kUrbSubmit = 'S';
inline constexpr std::uint8_t kInterruptTransfer = 1;
inline constexpr std::uint8_t kInEndpoint = 0x81;
inline constexpr std::uint8_t kOutEndpoint = 0x01;
inline constexpr std::uint16_t kBus = 1;

// One report as the capture holds it.
struct Packet {
  std::uint64_t id = 0;      // the URB id: a running number
  std::uint64_t timeUs = 0;  // microseconds since 1970
  int slot = 0;              // 0..3; device address slot + 1
  bool output = false;       // written by the library, else read from the receiver
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
};

// The section header, naming the application that wrote it.
Bytes SectionHeader(const std::string& application);
// The one interface, its name and description (the receiver), microsecond timestamps.
Bytes InterfaceDescription(const std::string& name, const std::string& description);
// One report as an enhanced packet block of interface 0.
void AppendPacket(Bytes& out, const Packet& packet);
// Interface 0's statistics at `timeUs`: how many reports were dropped before the file.
Bytes DropStatistics(std::uint64_t timeUs, std::uint64_t dropped);

}  // namespace zavn::platform::capture

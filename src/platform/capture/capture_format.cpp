#include "platform/capture/capture_format.h"

namespace zavn::platform::capture {
namespace {

constexpr std::uint16_t kShbUserApplication = 4;
constexpr std::uint16_t kIfName = 2;
constexpr std::uint16_t kIfDescription = 3;
constexpr std::uint16_t kIsbIfDrop = 5;
constexpr std::uint8_t kNoSetup = '-';
constexpr std::uint8_t kDataPresent = 0;
constexpr std::int32_t kInProgress = -115;  // -EINPROGRESS: a submission's status
constexpr std::uint32_t kDirectionIn = 0x200;
constexpr std::int32_t kIntervalMs = 1;

void Put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}
void Put64(Bytes& out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}
void PadTo4(Bytes& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

void PutOption(Bytes& out, std::uint16_t code, const std::uint8_t* value, std::size_t length) {
  Put16(out, code);
  Put16(out, static_cast<std::uint16_t>(length));
  out.insert(out.end(), value, value + length);
  PadTo4(out);
}
void PutOption(Bytes& out, std::uint16_t code, const std::string& text) {
  PutOption(out, code, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Wraps a block body: type, total length, body, total length again.
Bytes Block(std::uint32_t type, const Bytes& body) {
  Bytes block;
  const auto total = static_cast<std::uint32_t>(12 + body.size());
  Put32(block, type);
  Put32(block, total);
  block.insert(block.end(), body.begin(), body.end());
  Put32(block, total);
  return block;
}

void PutTimestamp(Bytes& out, std::uint64_t timeUs) {
  Put32(out, static_cast<std::uint32_t>(timeUs >> 32));
  Put32(out, static_cast<std::uint32_t>(timeUs));
}

}  // namespace

Bytes SectionHeader(const std::string& application) {
  Bytes body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);                  // major version
  Put16(body, 0);                  // minor version
  Put64(body, ~std::uint64_t{0});  // section length not known
  PutOption(body, kShbUserApplication, application);
  Put32(body, kEndOfOptions);
  return Block(kSectionHeaderBlock, body);
}

Bytes InterfaceDescription(const std::string& name, const std::string& description) {
  Bytes body;
  Put16(body, kLinkTypeUsbLinuxMmapped);
  Put16(body, 0);  // reserved
  Put32(body, 0);  // no snapshot length
  PutOption(body, kIfName, name);
  PutOption(body, kIfDescription, description);
  PutOption(body, kIfTimestampResolution, &kMicroseconds, 1);
  Put32(body, kEndOfOptions);
  return Block(kInterfaceBlock, body);
}

void AppendPacket(Bytes& out, const Packet& packet) {
  const std::uint32_t captured = static_cast<std::uint32_t>(kUsbmonHeaderLength) + packet.length;
  const std::uint32_t padded = (captured + 3) / 4 * 4;
  const std::uint32_t total = 32 + padded;
  Put32(out, kEnhancedPacketBlock);
  Put32(out, total);
  Put32(out, 0);  // interface 0
  PutTimestamp(out, packet.timeUs);
  Put32(out, captured);
  Put32(out, captured);
  // The usbmon header.
  Put64(out, packet.id);
  out.push_back(packet.output ? kUrbSubmit : kUrbComplete);
  out.push_back(kInterruptTransfer);
  out.push_back(packet.output ? kOutEndpoint : kInEndpoint);
  out.push_back(static_cast<std::uint8_t>(packet.slot + 1));
  Put16(out, kBus);
  out.push_back(kNoSetup);
  out.push_back(kDataPresent);
  Put64(out, packet.timeUs / 1000000);
  Put32(out, static_cast<std::uint32_t>(packet.timeUs % 1000000));
  Put32(out, static_cast<std::uint32_t>(packet.output ? kInProgress : 0));
  Put32(out, packet.length);  // the URB's length
  Put32(out, packet.length);  // the bytes that follow
  Put64(out, 0);              // no setup packet
  Put32(out, static_cast<std::uint32_t>(kIntervalMs));
  Put32(out, 0);  // start frame
  Put32(out, packet.output ? 0 : kDirectionIn);
  Put32(out, 0);  // no isochronous descriptors
  out.insert(out.end(), packet.data, packet.data + packet.length);
  PadTo4(out);
  Put32(out, total);
}

Bytes DropStatistics(std::uint64_t timeUs, std::uint64_t dropped) {
  Bytes body;
  Put32(body, 0);  // interface 0
  PutTimestamp(body, timeUs);
  Bytes value;
  Put64(value, dropped);
  PutOption(body, kIsbIfDrop, value.data(), value.size());
  Put32(body, kEndOfOptions);
  return Block(kStatisticsBlock, body);
}

}  // namespace zavn::platform::capture

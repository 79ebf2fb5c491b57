#include "dsu_protocol.h"

#include <algorithm>
#include <cstring>

namespace bridge::dsu {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}
void Put64(std::uint8_t* at, std::uint64_t value) {
  for (int k = 0; k < 8; ++k) at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}
void PutFloat(std::uint8_t* at, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  Put32(at, bits);
}
std::uint16_t Get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}
std::uint32_t Get32(const std::uint8_t* at) {
  return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
         std::uint32_t{at[3]} << 24;
}

void PutSlotHeader(std::uint8_t* packet, const SlotHeader& slot) {
  packet[kSlotOffset] = slot.slot;
  packet[kSlotStateOffset] = slot.state;
  packet[kModelOffset] = slot.model;
  packet[kConnectionOffset] = slot.connection;
  std::copy(slot.mac.begin(), slot.mac.end(), packet + kMacOffset);
  packet[kBatteryOffset] = slot.battery;
}

// Where each button goes in the data packet: its bitmask byte and bit, and its analog byte
// (0 for released, 255 for pressed), if it has one.
struct ButtonPlace {
  std::size_t byte;
  std::uint8_t bit;
  std::size_t analog;  // 0: none
};
constexpr ButtonPlace kButtonPlaces[kButtonCount] = {
    {kDataButtons2Offset, 0x40, kDataAnalogOffset + 5},   // cross (the protocol's B)
    {kDataButtons2Offset, 0x20, kDataAnalogOffset + 6},   // circle (A)
    {kDataButtons2Offset, 0x80, kDataAnalogOffset + 4},   // square (Y)
    {kDataButtons2Offset, 0x10, kDataAnalogOffset + 7},   // triangle (X)
    {kDataButtons2Offset, 0x04, kDataAnalogOffset + 9},   // L1
    {kDataButtons2Offset, 0x08, kDataAnalogOffset + 8},   // R1
    {kDataButtons2Offset, 0x01, kDataAnalogOffset + 11},  // L2
    {kDataButtons2Offset, 0x02, kDataAnalogOffset + 10},  // R2
    {kDataButtons1Offset, 0x01, 0},                       // share
    {kDataButtons1Offset, 0x08, 0},                       // options
    {kDataButtons1Offset, 0x02, 0},                       // L3
    {kDataButtons1Offset, 0x04, 0},                       // R3
    {kDataHomeOffset, 0x01, 0},                           // home
    {kDataTouchOffset, 0x01, 0},                          // touch button
    {kDataButtons1Offset, 0x10, kDataAnalogOffset + 3},   // D-pad up
    {kDataButtons1Offset, 0x40, kDataAnalogOffset + 1},   // D-pad down
    {kDataButtons1Offset, 0x80, kDataAnalogOffset + 0},   // D-pad left
    {kDataButtons1Offset, 0x20, kDataAnalogOffset + 2},   // D-pad right
};

}  // namespace

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kWrongMagic:
      return "wrong magic";
    case Verdict::kWrongVersion:
      return "wrong version";
    case Verdict::kWrongLength:
      return "wrong length";
    case Verdict::kWrongCrc:
      return "wrong CRC";
    case Verdict::kTruncated:
      return "truncated";
    case Verdict::kOversized:
      return "oversized";
    case Verdict::kUnknownType:
      return "unknown type";
  }
  return "?";
}

Request ParseRequest(const std::uint8_t* bytes, std::size_t length) {
  Request request;
  auto verdict = [&](Verdict v) {
    request.verdict = v;
    return request;
  };
  if (length > kMaxRequestSize) return verdict(Verdict::kOversized);
  if (length < kMessageOffset) return verdict(Verdict::kTruncated);
  if (!std::equal(kClientMagic.begin(), kClientMagic.end(), bytes + kMagicOffset))
    return verdict(Verdict::kWrongMagic);
  if (Get16(bytes + kVersionOffset) != kProtocolVersion) return verdict(Verdict::kWrongVersion);
  const std::size_t size = kHeaderSize + Get16(bytes + kLengthOffset);
  if (size < kMessageOffset) return verdict(Verdict::kWrongLength);
  if (size > length) return verdict(Verdict::kTruncated);

  // The CRC covers the packet as its length says, with the CRC field zeroed.
  std::array<std::uint8_t, kMaxRequestSize> copy;
  std::copy(bytes, bytes + size, copy.begin());
  Put32(copy.data() + kCrcOffset, 0);
  if (Crc32(copy.data(), size) != Get32(bytes + kCrcOffset)) return verdict(Verdict::kWrongCrc);

  request.clientId = Get32(bytes + kSenderIdOffset);
  request.type = Get32(bytes + kTypeOffset);
  switch (request.type) {
    case kVersionType:
      break;
    case kInfoType: {
      if (size < kInfoSlotsOffset) return verdict(Verdict::kWrongLength);
      const auto count = static_cast<std::int32_t>(Get32(bytes + kInfoCountOffset));
      if (count < 0 || count > kSlots || kInfoSlotsOffset + static_cast<std::size_t>(count) > size)
        return verdict(Verdict::kWrongLength);
      request.slotCount = count;
      std::copy(bytes + kInfoSlotsOffset, bytes + kInfoSlotsOffset + count, request.slots.begin());
      break;
    }
    case kDataType:
      if (size < kDataRequestSize) return verdict(Verdict::kWrongLength);
      request.flags = bytes[kDataFlagsOffset];
      request.slot = bytes[kDataSlotOffset];
      std::copy(bytes + kDataMacOffset, bytes + kDataMacOffset + 6, request.mac.begin());
      break;
    default:
      return verdict(Verdict::kUnknownType);
  }
  return verdict(Verdict::kOk);
}

void Seal(std::uint8_t* packet, std::size_t size, std::uint32_t senderId, std::uint32_t type,
          bool isServer) {
  const auto& magic = isServer ? kServerMagic : kClientMagic;
  std::copy(magic.begin(), magic.end(), packet + kMagicOffset);
  Put16(packet + kVersionOffset, kProtocolVersion);
  Put16(packet + kLengthOffset, static_cast<std::uint16_t>(size - kHeaderSize));
  Put32(packet + kCrcOffset, 0);
  Put32(packet + kSenderIdOffset, senderId);
  Put32(packet + kTypeOffset, type);
  Put32(packet + kCrcOffset, Crc32(packet, size));
}

Packet BuildVersionPacket(std::uint32_t serverId) {
  Packet packet;
  packet.size = kVersionPacketSize;
  Put16(packet.bytes.data() + kMessageOffset, kProtocolVersion);
  Seal(packet.bytes.data(), packet.size, serverId, kVersionType);
  return packet;
}

Packet BuildInfoPacket(std::uint32_t serverId, const SlotHeader& slot) {
  Packet packet;
  packet.size = kInfoPacketSize;
  PutSlotHeader(packet.bytes.data(), slot);
  Seal(packet.bytes.data(), packet.size, serverId, kInfoType);
  return packet;
}

Packet BuildDataPacket(std::uint32_t serverId, const SlotHeader& slot, std::uint32_t counter,
                       const DsuPad& pad) {
  Packet packet;
  packet.size = kDataPacketSize;
  std::uint8_t* p = packet.bytes.data();
  PutSlotHeader(p, slot);
  p[kDataConnectedOffset] = slot.state == kStateConnected ? 1 : 0;
  Put32(p + kDataCounterOffset, counter);
  for (int b = 0; b < kButtonCount; ++b) {
    if (!(pad.buttons >> b & 1)) continue;
    const ButtonPlace& place = kButtonPlaces[b];
    p[place.byte] |= place.bit;
    if (place.analog) p[place.analog] = 255;
  }
  const std::size_t l2 = kButtonPlaces[kL2].analog, r2 = kButtonPlaces[kR2].analog;
  p[l2] = std::max(p[l2], pad.analogL2);
  p[r2] = std::max(p[r2], pad.analogR2);
  p[kDataSticksOffset + 0] = pad.leftX;
  p[kDataSticksOffset + 1] = pad.leftY;
  p[kDataSticksOffset + 2] = pad.rightX;
  p[kDataSticksOffset + 3] = pad.rightY;
  // No touches: both touch records stay zero (inactive).
  Put64(p + kDataTimeOffset, pad.timeUs);
  for (int k = 0; k < 3; ++k) {
    PutFloat(p + kDataAccelOffset + 4 * k, pad.accelG[k]);
    PutFloat(p + kDataGyroOffset + 4 * k, pad.gyroDps[k]);
  }
  Seal(p, packet.size, serverId, kDataType);
  return packet;
}

}  // namespace bridge::dsu

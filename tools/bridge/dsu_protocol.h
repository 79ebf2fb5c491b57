// The DSU ("cemuhook") protocol, version 1001, over UDP: the packets' layouts and rules, with no
// sockets. Every number is little-endian. A packet is a 16-byte header, a 4-byte message type and
// the message; the header's length counts the type and the message, its CRC32 (zlib's) covers
// the whole packet with the CRC field zeroed. Clients send "DSUC" requests; the server answers
// with "DSUS" packets of the same message type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bridge::dsu {

using Mac = std::array<std::uint8_t, 6>;

inline constexpr std::uint16_t kProtocolVersion = 1001;
inline constexpr std::uint16_t kDefaultPort = 26760;
inline constexpr int kSlots = 4;

// The header.
inline constexpr std::size_t kMagicOffset = 0;  // 4 bytes, "DSUS" or "DSUC"
inline constexpr std::size_t kVersionOffset = 4;
inline constexpr std::size_t kLengthOffset = 6;  // bytes after the header
inline constexpr std::size_t kCrcOffset = 8;
inline constexpr std::size_t kSenderIdOffset = 12;
inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::size_t kTypeOffset = 16;  // counted in the length
inline constexpr std::size_t kMessageOffset = 20;
inline constexpr std::array<std::uint8_t, 4> kServerMagic = {'D', 'S', 'U', 'S'};
inline constexpr std::array<std::uint8_t, 4> kClientMagic = {'D', 'S', 'U', 'C'};

enum MessageType : std::uint32_t {
  kVersionType = 0x100000,
  kInfoType = 0x100001,
  kDataType = 0x100002,
};

// A request longer than the protocol's longest packet is refused whole; a shorter one may carry
// bytes past its length, which are ignored.
inline constexpr std::size_t kMaxRequestSize = 100;

// Controller-information request: a signed 32-bit count of slots (1..4), then that many slot
// numbers.
inline constexpr std::size_t kInfoCountOffset = kMessageOffset;
inline constexpr std::size_t kInfoSlotsOffset = kMessageOffset + 4;
// Controller-data request: registration flags (none: every slot), a slot, a MAC.
inline constexpr std::size_t kDataFlagsOffset = kMessageOffset;
inline constexpr std::size_t kDataSlotOffset = kMessageOffset + 1;
inline constexpr std::size_t kDataMacOffset = kMessageOffset + 2;
inline constexpr std::size_t kDataRequestSize = kMessageOffset + 8;
inline constexpr std::uint8_t kRegisterSlot = 1;
inline constexpr std::uint8_t kRegisterMac = 2;

// The slot header that begins information and data packets.
inline constexpr std::size_t kSlotOffset = kMessageOffset;
inline constexpr std::size_t kSlotStateOffset = kMessageOffset + 1;
inline constexpr std::size_t kModelOffset = kMessageOffset + 2;
inline constexpr std::size_t kConnectionOffset = kMessageOffset + 3;
inline constexpr std::size_t kMacOffset = kMessageOffset + 4;
inline constexpr std::size_t kBatteryOffset = kMessageOffset + 10;
inline constexpr std::uint8_t kStateDisconnected = 0;
inline constexpr std::uint8_t kStateConnected = 2;
inline constexpr std::uint8_t kModelFullGyro = 2;
inline constexpr std::uint8_t kConnectionBluetooth = 2;
inline constexpr std::uint8_t kBatteryNotApplicable = 0;

// Server packets: version (the highest version served), information (slot header and a zero
// byte), data.
inline constexpr std::size_t kVersionPacketSize = kMessageOffset + 2;
inline constexpr std::size_t kInfoPacketSize = kMessageOffset + 12;
inline constexpr std::size_t kDataConnectedOffset = kMessageOffset + 11;
inline constexpr std::size_t kDataCounterOffset = kMessageOffset + 12;  // per client
inline constexpr std::size_t kDataButtons1Offset = kMessageOffset + 16;
inline constexpr std::size_t kDataButtons2Offset = kMessageOffset + 17;
inline constexpr std::size_t kDataHomeOffset = kMessageOffset + 18;     // 0 or 1
inline constexpr std::size_t kDataTouchOffset = kMessageOffset + 19;    // 0 or 1
inline constexpr std::size_t kDataSticksOffset = kMessageOffset + 20;   // LX, LY, RX, RY
inline constexpr std::size_t kDataAnalogOffset = kMessageOffset + 24;   // 12 analog buttons
inline constexpr std::size_t kDataTouchesOffset = kMessageOffset + 36;  // 2 touches, 6 bytes each
inline constexpr std::size_t kDataTimeOffset = kMessageOffset + 48;     // motion time, us
inline constexpr std::size_t kDataAccelOffset = kMessageOffset + 56;    // x, y, z floats, g
inline constexpr std::size_t kDataGyroOffset = kMessageOffset + 68;     // pitch, yaw, roll, deg/s
inline constexpr std::size_t kDataPacketSize = kMessageOffset + 80;
inline constexpr std::size_t kMaxPacketSize = kDataPacketSize;

// The buttons a data packet carries, as bit positions of DsuPad::buttons.
enum Button : int {
  kCross,
  kCircle,
  kSquare,
  kTriangle,
  kL1,
  kR1,
  kL2,
  kR2,
  kShare,
  kOptions,
  kL3,
  kR3,
  kHome,
  kTouchButton,
  kDpadUp,
  kDpadDown,
  kDpadLeft,
  kDpadRight,
  kButtonCount
};

}  // namespace bridge::dsu

namespace bridge {

// One data packet's controls and motion in DSU terms. Sticks 0..255, 128 centred, y positive
// upward; analog triggers 0..255 (a pressed digital L2/R2 reads 255). Acceleration in g and
// rotation in deg/s on a DualShock 4's axes (see dsu_mapping.h).
struct DsuPad {
  std::uint32_t buttons = 0;  // bit dsu::Button
  std::uint8_t leftX = 128, leftY = 128, rightX = 128, rightY = 128;
  std::uint8_t analogL2 = 0, analogR2 = 0;
  std::uint64_t timeUs = 0;
  float accelG[3] = {};   // x, y, z
  float gyroDps[3] = {};  // pitch, yaw, roll
};

}  // namespace bridge

namespace bridge::dsu {

// zlib's CRC32 (IEEE, reflected, 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t length);

enum class Verdict {
  kOk,
  kWrongMagic,
  kWrongVersion,
  kWrongLength,  // the length field is too short for the message type's content
  kWrongCrc,
  kTruncated,  // shorter than a header and type, or than its length field says
  kOversized,  // longer than kMaxRequestSize
  kUnknownType,
};
const char* VerdictName(Verdict verdict);

struct Request {
  Verdict verdict = Verdict::kTruncated;
  std::uint32_t type = 0;
  std::uint32_t clientId = 0;
  // kInfoType: the slots asked about, in order.
  int slotCount = 0;
  std::array<std::uint8_t, kSlots> slots{};
  // kDataType: registration flags, slot and MAC.
  std::uint8_t flags = 0;
  std::uint8_t slot = 0;
  Mac mac{};
};

// A client's datagram checked against the protocol's rules and read.
Request ParseRequest(const std::uint8_t* bytes, std::size_t length);

struct SlotHeader {
  std::uint8_t slot = 0;
  std::uint8_t state = kStateDisconnected;
  std::uint8_t model = 0;
  std::uint8_t connection = 0;
  Mac mac{};
  std::uint8_t battery = kBatteryNotApplicable;
};

struct Packet {
  std::array<std::uint8_t, kMaxPacketSize> bytes{};
  std::size_t size = 0;
};

Packet BuildVersionPacket(std::uint32_t serverId);
Packet BuildInfoPacket(std::uint32_t serverId, const SlotHeader& slot);
Packet BuildDataPacket(std::uint32_t serverId, const SlotHeader& slot, std::uint32_t counter,
                       const DsuPad& pad);

// Writes magic, version, length, sender and type, then the CRC over the first size bytes. A
// client's request is the same with isServer false (tests build requests this way).
void Seal(std::uint8_t* packet, std::size_t size, std::uint32_t senderId, std::uint32_t type,
          bool isServer = true);

}  // namespace bridge::dsu

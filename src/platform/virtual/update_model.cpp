#include "platform/virtual/update_model.h"

#include <cstring>

namespace zavn::platform::virt {
namespace {

// Output reports, by ID and length.
constexpr std::uint8_t kTableRow = 0x03;
constexpr std::uint32_t kTableRowLength = 32;
constexpr std::uint8_t kCheckFrame[4] = {'L', 'C', 'R', 'C'};
constexpr int kFrameNameByte = 4;
constexpr std::uint8_t kEraseReport[9] = {0x07, 0x00, 0x00, 0x00, 0x17, 'E', 'R', 'A', 'S'};
constexpr std::uint8_t kHexLine = 0x10;
constexpr std::uint32_t kHexLineLength = 32;
constexpr int kHexCountByte = 1, kHexDataByte = 5;
constexpr std::uint8_t kNotSummed = 0xFF;
constexpr std::uint8_t kBootCommand = 0x11;
constexpr std::uint32_t kBootCommandLength = 16;
constexpr std::uint8_t kStartCommand[2] = {0x65, 0x91};
constexpr std::uint8_t kChecksumCommand[2] = {0x23, 0xB7};
constexpr std::uint8_t kFinishCommand[2] = {0xCD, 0x5A};
constexpr std::uint8_t kSerial = 0x05;
constexpr std::uint32_t kSerialDataLength = 18;
constexpr std::uint8_t kSerialEnd = 0x00;

// The boot-loader record: report ID, "B", 0x95, 0x3B, then 12 bytes; the last two are the
// confirmation pair.
constexpr std::uint8_t kInputReportId = 0x02;
constexpr std::uint8_t kBootRecord[3] = {'B', 0x95, 0x3B};
constexpr int kBootPayloadByte = 4;
constexpr int kConfirmationByte = 14;
constexpr std::uint8_t kConfirmation[2] = {0x79, 0x85};

bool Is(const char* product, const char* name) {
  return std::strcmp(product, name) == 0;
}

// A boot-loader record that echoes the report ID it answers.
int BootRecord(std::uint8_t answered, TransmitterModel::Reply& reply, bool confirm = false) {
  std::memset(reply, 0, sizeof reply);
  reply[0] = kInputReportId;
  std::memcpy(reply + 1, kBootRecord, sizeof kBootRecord);
  reply[kBootPayloadByte] = answered;
  if (confirm) std::memcpy(reply + kConfirmationByte, kConfirmation, sizeof kConfirmation);
  return 1;
}

std::uint32_t BigEndian32(const std::uint8_t* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) |
         at[3];
}

}  // namespace

void UpdateModel::Start(const char* product) {
  if (Is(product, kBootloaderProduct)) receivedSum_ = 0;
}

int UpdateModel::AcceptBootloader(const std::uint8_t* report, std::uint32_t length,
                                  TransmitterModel::Reply& reply, Reenumeration& next) {
  if (report[0] == kHexLine && length == kHexLineLength) {
    const int count = static_cast<std::int8_t>(report[kHexCountByte]);
    for (int i = 0; i < count && kHexDataByte + i < static_cast<int>(length); ++i) {
      if (report[kHexDataByte + i] != kNotSummed) receivedSum_ += report[kHexDataByte + i];
    }
    return BootRecord(kHexLine, reply);
  }
  if (report[0] != kBootCommand || length != kBootCommandLength) return 0;
  // The first step command opens a new transfer.
  if (std::memcmp(report + 1, kStartCommand, 2) == 0) receivedSum_ = 0;
  if (std::memcmp(report + 1, kChecksumCommand, 2) == 0) {
    return BootRecord(kBootCommand, reply, BigEndian32(report + 3) == receivedSum_);
  }
  if (std::memcmp(report + 1, kFinishCommand, 2) == 0) next = {kZProduct, 0};
  return BootRecord(kBootCommand, reply);
}

int UpdateModel::Accept(const char* product, const std::uint8_t* report, std::uint32_t length,
                        TransmitterModel::Reply* replies, Reenumeration& next) {
  if (Is(product, kNrfDongleProduct)) {
    if (report[0] != kTableRow || length != kTableRowLength) return 0;
    if (std::memcmp(report + kFrameNameByte, kCheckFrame, sizeof kCheckFrame) == 0) {
      next = {kDongleProduct, 0};
    }
    return BootRecord(kTableRow, replies[0]);
  }
  if (Is(product, kDongleProduct)) {
    if (length == sizeof kEraseReport && std::memcmp(report, kEraseReport, length) == 0) {
      next = {kBootloaderProduct, 0};
    }
    return 0;
  }
  if (Is(product, kBootloaderProduct)) return AcceptBootloader(report, length, replies[0], next);
  if (Is(product, kZProduct) && report[0] == kSerial && length == kSerialDataLength &&
      report[1] == kSerialEnd) {
    next = {kDongleProduct, kRestartAfterSerialMs};
  }
  return 0;
}

}  // namespace zavn::platform::virt

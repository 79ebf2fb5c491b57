#include "commands/output_reports.h"

#include <cstring>

namespace zavn::commands {
namespace {

std::uint8_t Low8(std::int32_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

void PutBigEndian16(std::uint8_t* at, std::int32_t value) {
  at[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  at[1] = Low8(value);
}

template <std::size_t Length>
void PutLowBytes(std::uint8_t* at, const std::int32_t* values) {
  for (std::size_t k = 0; k < Length; ++k) at[k] = Low8(values[k]);
}

}  // namespace

SwitchReport BuildSwitch(std::uint8_t reportId, std::int32_t value) {
  return {reportId, Low8(value)};
}

ValueReport BuildValue(std::uint8_t reportId, std::int32_t value) {
  return {reportId, Low8(value), 0x00, 0x00};
}

SerialQueryReport BuildSerialQuery(std::int32_t subCommand) {
  SerialQueryReport report{id::kSerial, Low8(subCommand)};
  std::memcpy(&report[2], kSerialQueryText, kSerialQueryTextLength);
  return report;
}

SerialDataReport BuildSerialData(std::int32_t subCommand, const std::uint8_t* serial) {
  SerialDataReport report{id::kSerial, Low8(subCommand)};
  if (serial != nullptr) std::memcpy(&report[2], serial, kSerialBytes);
  return report;
}

MotorReport BuildMotor(const std::uint8_t* bytes) {
  if (bytes[0] == kMotorEraseTrigger) return kMotorEraseReport;
  MotorReport report{id::kMotor};
  std::memcpy(&report[1], bytes, kMotorBytes);
  return report;
}

KeyboardMouseReport BuildKeyboardMouse(const std::int32_t* values) {
  KeyboardMouseReport report{id::kKeyboardMouse};
  PutLowBytes<kKeyboardMouseValues>(&report[1], values);
  return report;
}

AccountReport BuildAccount(std::int32_t first, std::int32_t second, const std::uint8_t* digits) {
  AccountReport report{id::kAccount, Low8(first), Low8(second)};
  for (std::size_t k = 0; k < kAccountDigits; ++k) {
    report[3 + k] = static_cast<std::uint8_t>(digits[k] + kDigitOffset);
  }
  return report;
}

VersionReport BuildVersion(std::int32_t operation, const std::uint8_t* version) {
  VersionReport report{id::kVersion, Low8(operation)};
  std::memcpy(&report[2], version, kVersionBytes);
  return report;
}

JoystickReport BuildJoystick(const std::int32_t* values) {
  JoystickReport report{id::kJoystick};
  PutLowBytes<kJoystickValues>(&report[1], values);
  return report;
}

BootCommandReport BuildBootCommand(int selector, std::uint32_t checksum) {
  BootCommandReport report{id::kBootCommand, kBootCodePairs[selector][0],
                           kBootCodePairs[selector][1]};
  if (selector == kChecksumSelector) {
    for (int k = 0; k < 4; ++k) report[3 + k] = static_cast<std::uint8_t>(checksum >> (24 - 8 * k));
  }
  return report;
}

ScreenReport BuildScreen(std::int32_t width, std::int32_t height, std::int32_t mouseX,
                         std::int32_t mouseY) {
  ScreenReport report{id::kScreen};
  PutBigEndian16(&report[1], width);
  PutBigEndian16(&report[3], height);
  PutBigEndian16(&report[5], mouseX);
  PutBigEndian16(&report[7], mouseY);
  return report;
}

AppInfoReport BuildAppInfo(std::int32_t first, std::int32_t second) {
  return {id::kAppInfo, Low8(first), Low8(second)};
}

}  // namespace zavn::commands

#include "platform/virtual/transmitter_model.h"

#include <cstdio>
#include <cstring>

namespace zavn::platform::virt {
namespace {

// The output reports the model understands, by ID and length (one ID may have several).
constexpr std::uint8_t kFirstSwitch = 0x01, kLastSwitch = 0x06;
constexpr std::uint32_t kSwitchLength = 2;
constexpr std::uint8_t kPlayerNumber = 0x04, kAntenna = 0x06;
constexpr std::uint32_t kValueLength = 4;
constexpr std::uint8_t kSerial = 0x05;
constexpr std::uint32_t kSerialQueryLength = 16, kSerialDataLength = 18;
constexpr std::uint8_t kSerialWrite = 2;
constexpr std::uint8_t kMotor = 0x07;
constexpr std::uint32_t kMotorLength = 9;
constexpr std::uint8_t kKeyboardMouse = 0x09;
constexpr std::uint32_t kKeyboardMouseLength = 13;
constexpr std::uint8_t kAccount = 0x0A;
constexpr std::uint32_t kAccountLength = 28;
constexpr std::uint8_t kVersion = 0x0B;
constexpr std::uint32_t kVersionLength = 14;
constexpr std::uint8_t kJoystick = 0x0D;
constexpr std::uint32_t kJoystickLength = 33;
constexpr std::uint8_t kScreen = 0x12;
constexpr std::uint32_t kScreenLength = 9;
constexpr std::uint8_t kAppInfo = 0x13;
constexpr std::uint32_t kAppInfoLength = 3;

// The input reports of the answers: report ID, then the record's letter at byte 3.
constexpr std::uint8_t kInputReportId = 0x02;
constexpr int kLetterByte = 3;
constexpr std::uint8_t kSerialLetter = 'R', kVersionLetter = 'V', kAccountLetter = 'D';
constexpr int kAccountPages = 16;
constexpr int kAccountDigits = 25;
constexpr std::uint8_t kDigitPagesFirst = '0', kDigitPagesLast = '7';
constexpr std::uint8_t kAccountStored = 1, kAccountRefused = 0;

std::uint16_t BigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

}  // namespace

void TransmitterModel::Start(int player) {
  state_ = {};
  char text[32];
  std::snprintf(text, sizeof text, "ZAVNTX%010d", player + 1);
  std::memcpy(state_.serial, text, sizeof state_.serial);
  std::snprintf(text, sizeof text, "V01.02.00-P%d", player + 1);
  std::memcpy(state_.version, text, sizeof state_.version);
}

void TransmitterModel::ReplyWith(std::uint8_t letter, const std::uint8_t* payload, int bytes,
                                 Reply& reply) const {
  std::memset(reply, 0, sizeof reply);
  reply[0] = kInputReportId;
  reply[kLetterByte] = letter;
  std::memcpy(reply + kLetterByte + 1, payload, static_cast<std::size_t>(bytes));
}

int TransmitterModel::AcceptAccount(const std::uint8_t* report, Reply& reply) {
  const std::uint8_t selector = report[1];
  int page = -1;
  if (selector < kAccountPages) {
    page = selector;
  } else if (selector >= kDigitPagesFirst && selector <= kDigitPagesLast) {
    page = selector - kDigitPagesFirst;
  }
  // Record: selector, the 25-byte page, the status byte.
  std::uint8_t payload[1 + kAccountDigits + 1] = {selector};
  if (page >= 0) {
    std::memcpy(state_.accountPages[page], report + 3, kAccountDigits);
    std::memcpy(payload + 1, state_.accountPages[page], kAccountDigits);
  }
  payload[1 + kAccountDigits] = page >= 0 ? kAccountStored : kAccountRefused;
  ReplyWith(kAccountLetter, payload, sizeof payload, reply);
  return 1;
}

int TransmitterModel::Accept(const std::uint8_t* report, std::uint32_t length, Reply* replies) {
  ++state_.reportsReceived;
  const std::uint8_t id = report[0];
  const std::uint8_t* payload = report + 1;
  if (length == kSwitchLength && id >= kFirstSwitch && id <= kLastSwitch) {
    state_.modes[id - kFirstSwitch] = payload[0];
  } else if (length == kValueLength && id == kPlayerNumber) {
    state_.playerNumber = payload[0];
  } else if (length == kValueLength && id == kAntenna) {
    state_.antenna = payload[0];
  } else if (length == kSerialQueryLength && id == kSerial) {
    ReplyWith(kSerialLetter, state_.serial, sizeof state_.serial, replies[0]);
    return 1;
  } else if (length == kSerialDataLength && id == kSerial) {
    if (payload[0] == kSerialWrite) std::memcpy(state_.serial, payload + 1, sizeof state_.serial);
  } else if (length == kMotorLength && id == kMotor) {
    std::memcpy(state_.motor, payload, sizeof state_.motor);
  } else if (length == kKeyboardMouseLength && id == kKeyboardMouse) {
    std::memcpy(state_.keyboardMouse, payload, sizeof state_.keyboardMouse);
  } else if (length == kJoystickLength && id == kJoystick) {
    std::memcpy(state_.joystick, payload, sizeof state_.joystick);
  } else if (length == kAppInfoLength && id == kAppInfo) {
    std::memcpy(state_.appInfo, payload, sizeof state_.appInfo);
  } else if (length == kScreenLength && id == kScreen) {
    state_.screenWidth = BigEndian16(payload);
    state_.screenHeight = BigEndian16(payload + 2);
    state_.mouseX = BigEndian16(payload + 4);
    state_.mouseY = BigEndian16(payload + 6);
  } else if (length == kVersionLength && id == kVersion) {
    if (payload[0] == ZAVN_VIRTUAL_VERSION_WRITE) {
      std::memcpy(state_.version, payload + 1, sizeof state_.version);
    }
    ReplyWith(kVersionLetter, state_.version, sizeof state_.version, replies[0]);
    return 1;
  } else if (length == kAccountLength && id == kAccount) {
    return AcceptAccount(report, replies[0]);
  }
  return 0;
}

}  // namespace zavn::platform::virt

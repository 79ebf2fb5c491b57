// Every output report the library sends: its ID, its length and its byte layout, once each.
//
// A report is exactly as long as its layout (never padded to the interface's output length),
// byte 0 is the report ID, multi-byte numbers are big-endian, and a caller's value wider than
// its byte travels as its low 8 bits. One ID may have several layouts, told apart by length.
#pragma once

#include <array>
#include <cstdint>

namespace zavn::commands {

namespace id {
inline constexpr std::uint8_t kBrowser = 0x01;
inline constexpr std::uint8_t kKeyboard = 0x02;
inline constexpr std::uint8_t kMotionKey = 0x03;    // also each row of the report-table image
inline constexpr std::uint8_t kRawData = 0x04;      // 2 bytes; 4 bytes: the player number
inline constexpr std::uint8_t kGameMode = 0x05;     // 2 bytes; 16 and 18: serial query and data
inline constexpr std::uint8_t kSensitivity = 0x06;  // 2 bytes; 4 bytes: the RF antenna
inline constexpr std::uint8_t kPlayerNumber = 0x04;
inline constexpr std::uint8_t kAntenna = 0x06;
inline constexpr std::uint8_t kSerial = 0x05;
inline constexpr std::uint8_t kMotor = 0x07;
inline constexpr std::uint8_t kKeyboardMouse = 0x09;
inline constexpr std::uint8_t kAccount = 0x0A;
inline constexpr std::uint8_t kVersion = 0x0B;
inline constexpr std::uint8_t kJoystick = 0x0D;
inline constexpr std::uint8_t kHexRecord = 0x10;
inline constexpr std::uint8_t kBootCommand = 0x11;
inline constexpr std::uint8_t kScreen = 0x12;
inline constexpr std::uint8_t kAppInfo = 0x13;
}  // namespace id

template <std::size_t Length>
using Report = std::array<std::uint8_t, Length>;

// Mode switch, 01..06: ID, value.
using SwitchReport = Report<2>;
SwitchReport BuildSwitch(std::uint8_t reportId, std::int32_t value);

// Player number (04) and RF antenna (06): ID, value, 00 00.
using ValueReport = Report<4>;
ValueReport BuildValue(std::uint8_t reportId, std::int32_t value);

// Serial-number query, 05: sub-command, then the fixed 14-byte query text.
inline constexpr char kSerialQueryText[] = "ZAVN0123456789";  // four letters, ten digits
inline constexpr std::size_t kSerialQueryTextLength = sizeof kSerialQueryText - 1;
using SerialQueryReport = Report<2 + kSerialQueryTextLength>;
SerialQueryReport BuildSerialQuery(std::int32_t subCommand);

// Serial-number data, 05: sub-command, then 16 bytes (the caller's, or zeros).
inline constexpr std::size_t kSerialBytes = 16;
using SerialDataReport = Report<2 + kSerialBytes>;
SerialDataReport BuildSerialData(std::int32_t subCommand, const std::uint8_t* serial);

// Motor, 07: the caller's 8 bytes; or, when the first is 'E', the fixed erase form.
inline constexpr std::size_t kMotorBytes = 8;
inline constexpr std::uint8_t kMotorEraseTrigger = 0x45;
inline constexpr Report<1 + kMotorBytes> kMotorEraseReport = {id::kMotor, 0x00, 0x00, 0x00, 0x17,
                                                              'E',        'R',  'A',  'S'};
using MotorReport = Report<1 + kMotorBytes>;
MotorReport BuildMotor(const std::uint8_t* bytes);

// Keyboard/mouse, 09: the low byte of each of 12 integers.
inline constexpr std::size_t kKeyboardMouseValues = 12;
using KeyboardMouseReport = Report<1 + kKeyboardMouseValues>;
KeyboardMouseReport BuildKeyboardMouse(const std::int32_t* values);

// Account data, 0A: two control bytes, then 25 digits each sent as value + 0x30.
inline constexpr std::size_t kAccountDigits = 25;
inline constexpr std::uint8_t kDigitOffset = 0x30;
using AccountReport = Report<3 + kAccountDigits>;
AccountReport BuildAccount(std::int32_t first, std::int32_t second, const std::uint8_t* digits);

// Version number, 0B: operation, then 12 bytes.
inline constexpr std::size_t kVersionBytes = 12;
using VersionReport = Report<2 + kVersionBytes>;
VersionReport BuildVersion(std::int32_t operation, const std::uint8_t* version);

// Joystick, 0D: the low byte of each of 15 integers, then 17 zero bytes.
inline constexpr std::size_t kJoystickValues = 15;
using JoystickReport = Report<33>;
JoystickReport BuildJoystick(const std::int32_t* values);

// Boot command, 11: the selector's code pair, the 32-bit checksum (selector 3 only), zeros.
inline constexpr int kBootSelectors = 5;
inline constexpr int kChecksumSelector = 3;
inline constexpr std::uint8_t kBootCodePairs[kBootSelectors][2] = {
    {0x65, 0x91}, {0x3E, 0xB2}, {0xCD, 0x5A}, {0x23, 0xB7}, {0x1C, 0x7B}};
using BootCommandReport = Report<16>;
// `selector` must be 0..4.
BootCommandReport BuildBootCommand(int selector, std::uint32_t checksum);

// Screen resolution and mouse position, 12: four 16-bit values.
using ScreenReport = Report<9>;
ScreenReport BuildScreen(std::int32_t width, std::int32_t height, std::int32_t mouseX,
                         std::int32_t mouseY);

// Application information, 13: two bytes.
using AppInfoReport = Report<3>;
AppInfoReport BuildAppInfo(std::int32_t first, std::int32_t second);

}  // namespace zavn::commands

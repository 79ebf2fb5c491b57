// Every command and image writer through the exported API, read back byte for byte from the
// virtual interface.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "commands/image_checksum.h"
#include "support/library_fixture.h"
#include "support/output_log.h"

namespace zavn::testing {
namespace {

// A command as (player) -> result, and the report an open slot of that player gets: none for
// some.
struct Command {
  std::string_view name;
  std::function<std::int32_t(std::int32_t)> send;
  std::int32_t result;
  Bytes report;
};

using P = std::int32_t;  // a player

template <typename Call>
std::function<std::int32_t(P)> Void(Call call) {
  return [call](P p) { return call(p), 0; };  // a command without a result gives 0
}

// An image line as a host hands it over: in a 64-byte buffer, NUL-filled.
using Line = std::array<char, ZAVN_IMAGE_LINE_BYTES>;
Line LineOf(const std::string& text) {
  Line line{};
  std::memcpy(line.data(), text.data(), std::min(text.size(), line.size()));
  return line;
}

std::vector<Command> AllCommands() {
  static const std::uint8_t one = 0x01;
  static char scratch[ZAVN_IMAGE_LINE_BYTES];
  // Ten data bytes at 0x7502 in lower-case digits, one of them 0xFF; 27 bytes fill the report.
  static const Line hexLine = LineOf(":0a750200ff000102030405060708c1");
  static const Line fullLine = LineOf(":1B000000" + std::string(54, '1'));
  static const Line row =
      LineOf("030102030405060708090a0b0c0d0e0f101112131415161718191A1B1C1D1E1F");
  // Unterminated, 28 data bytes, a short table row: refused.
  static const Line endless = LineOf(":" + std::string(63, '1'));
  static const Line tooLong = LineOf(":1C000000" + std::string(56, '1'));
  static const Line shortRow = LineOf("0300");
  Bytes rowReport{0x03}, fullReport{0x10, 0x1B, 0, 0, 0};
  for (std::uint8_t k = 1; k < 32; ++k) rowReport.push_back(k);
  fullReport.resize(32, 0x11);
  static const std::uint8_t serial[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                          0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
  static const std::uint8_t version[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  static const std::uint8_t digits[25] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,   7,
                                          7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 0xD0};  // last wraps
  static const std::uint8_t erase[8] = {0x45, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  static const std::uint8_t motor[8] = {0x44, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  static const std::int32_t keys[12] = {0x141, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1};
  static const std::int32_t stick[15] = {0x101, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107, 0x108,
                                         0x109, 0x10A, 0x10B, 0x10C, 0x10D, 0x10E, 0x10F};
  return {
      {"browser", [](P p) { return ZAVNSwitchBrowser(p, 0x1FF); }, 1, Bytes{0x01, 0xFF}},
      {"keyboard", [](P p) { return ZAVNSwitchKeyboard(p, 0x100); }, 1, Bytes{0x02, 0x00}},
      {"motion key", [](P p) { return ZAVNSwitchMotionKey(p, 3); }, 1, Bytes{0x03, 0x03}},
      {"raw data", [](P p) { return ZAVNSwitchRawdata(p, 5); }, 1, Bytes{0x04, 0x05}},
      {"game mode", [](P p) { return ZAVNSwitchGameMode(p, 0x80); }, 1, Bytes{0x05, 0x80}},
      {"sensitivity", [](P p) { return ZAVNSwitchGSensitivity(p, -1); }, 1, Bytes{0x06, 0xFF}},
      {"command 1", [](P p) { return ZAVNSendCMDToTx(p, 1, &one); }, 1, Bytes{0x01, 0x01}},
      {"serial query", Void([](P p) { ZAVNAskSerialNumber(p, 3, nullptr, 1); }), 0,
       Bytes{0x05, 0x03, 'Z', 'A', 'V', 'N', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}},
      {"serial data", Void([](P p) { ZAVNAskSerialNumber(p, 2, serial, 2); }), 0,
       Bytes{0x05, 0x02, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
             0xAC, 0xAD, 0xAE, 0xAF}},
      {"version", Void([](P p) { ZAVNReadWriteVersionNum(p, 0x101, version); }), 0,
       Bytes{0x0B, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"account", Void([](P p) { ZAVNWriteAccountData(p, 0x03, 0x1AA, digits); }), 0,
       Bytes{0x0A, 0x03, 0xAA, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37,
             0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x37, 0x00}},
      {"boot 0", [](P p) { return ZAVNReadFWNumBootNum(p, 0); }, 1,
       WithZeros({0x11, 0x65, 0x91}, 13)},
      {"boot 3", [](P p) { return ZAVNReadFWNumBootNum(p, 3); }, 1,
       WithZeros({0x11, 0x23, 0xB7, 0x00, 0x01, 0xA2, 0xB3}, 9)},
      {"erase", [](P p) { return ZAVNSetMotorAction(p, erase); }, 16,
       Bytes{0x07, 0x00, 0x00, 0x00, 0x17, 0x45, 0x52, 0x41, 0x53}},
      {"motor", [](P p) { return ZAVNSetMotorAction(p, motor); }, 16,
       Bytes{0x07, 0x44, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
      {"player number", Void([](P p) { ZAVNSelectPlayerNum(p, 5); }), 0,
       Bytes{0x04, 0x05, 0x00, 0x00}},
      {"antenna", Void([](P p) { ZAVNSwitchRFAntenna(p, 0x102); }), 0,
       Bytes{0x06, 0x02, 0x00, 0x00}},
      {"keyboard/mouse", Void([](P p) { ZAVNSendAPIKeyboardMouse(p, keys); }), 0,
       Bytes{0x09, 0x41, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xFF}},
      {"joystick", Void([](P p) { ZAVNSendAPINewKeyJoystick(p, stick); }), 0,
       WithZeros({0x0D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 17)},
      {"screen", [](P p) { return ZAVNSendScrResolMSXYPos(p, 1920, 1080, 960, 540); }, 1,
       Bytes{0x12, 0x07, 0x80, 0x04, 0x38, 0x03, 0xC0, 0x02, 0x1C}},
      {"app info", [](P p) { return ZAVNSendAppInfoToDongle(p, 0x1AB, 0xCD); }, 1,
       Bytes{0x13, 0xAB, 0xCD}},
      {"hex line", Void([](P p) { ZAVNWriteVUKHex(p, scratch, hexLine.data()); }), 0,
       WithZeros({0x10, 0x0A, 0x75, 0x02, 0x00, 0xFF, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0xC1}, 16)},
      {"full hex line", Void([](P p) { ZAVNWriteVUKHex(p, scratch, fullLine.data()); }), 0,
       fullReport},
      {"table row", Void([](P p) { ZAVNWriteHarlonHex(p, scratch, row.data()); }), 0, rowReport},
      // A null pointer, an unknown command or form, a bad selector, a line too long: nothing.
      {"command 3", [](P p) { return ZAVNSendCMDToTx(p, 3, &one); }, 1, {}},
      {"serial data null", Void([](P p) { ZAVNAskSerialNumber(p, 2, nullptr, 2); }), 0, {}},
      {"serial form 3", Void([](P p) { ZAVNAskSerialNumber(p, 3, serial, 3); }), 0, {}},
      {"motor null", [](P p) { return ZAVNSetMotorAction(p, nullptr); }, 16, {}},
      {"boot 5", [](P p) { return ZAVNReadFWNumBootNum(p, 5); }, 0, {}},
      {"hex endless", Void([](P p) { ZAVNWriteVUKHex(p, scratch, endless.data()); }), 0, {}},
      {"hex too long", Void([](P p) { ZAVNWriteVUKHex(p, scratch, tooLong.data()); }), 0, {}},
      {"hex null", Void([](P p) { ZAVNWriteVUKHex(p, nullptr, hexLine.data()); }), 0, {}},
      {"hex line null", Void([](P p) { ZAVNWriteVUKHex(p, scratch, nullptr); }), 0, {}},
      {"short row", Void([](P p) { ZAVNWriteHarlonHex(p, scratch, shortRow.data()); }), 0, {}},
      {"row null", Void([](P p) { ZAVNWriteHarlonHex(p, nullptr, row.data()); }), 0, {}},
  };
}

using CommandTest = ConnectedReceiverTest;

// Each report is as long as its layout, also on an interface that declares 64-byte output. A
// closed slot or a player out of range gets nothing, with the same result but from the boot
// command, which tells.
TEST_F(CommandTest, EveryCommandWritesItsLayoutToAnOpenSlotOnly) {
  commands::VUKChecksum() = 0x0001A2B3;  // boot 3 sends it; the reset after the test clears it
  const std::int32_t wide = ZAVNVirtualPlug(kVendor, kProduct, kReportLength, 64, "NOLTADongle");
  ZAVNConnectRx();
  ASSERT_EQ(ZAVNGetRxStatus(2), LINK_OK);
  const auto refused = [](const Command& c) { return c.name.starts_with("boot") ? 0 : c.result; };
  for (const Command& command : AllCommands()) {
    for (P player : {3, 0, INT_MIN}) {  // a closed slot, out of range
      EXPECT_EQ(command.send(player), refused(command)) << command.name << " " << player;
    }
    EXPECT_TRUE(TakeOutput(id_).empty() && TakeOutput(wide).empty()) << command.name;
    EXPECT_EQ(command.send(1), command.result) << command.name;
    EXPECT_EQ(TakeOutput(id_), command.report) << command.name;
    command.send(2);
    EXPECT_EQ(TakeOutput(wide), command.report) << command.name;
  }
  // The image checksum sums the data bytes but 0xFF of every line offered, sent or not: five
  // offers each of the hex line (36) and the full one (27 of 0x11); a refused line adds nothing.
  EXPECT_EQ(commands::VUKChecksum().load(), 0x0001A2B3u + 5 * (36 + 27 * 0x11));
  char scratch[ZAVN_IMAGE_LINE_BYTES];  // gets the line
  ZAVNWriteVUKHex(1, scratch, LineOf(":0100000005FA").data());
  EXPECT_STREQ(scratch, ":0100000005FA");
}

TEST(NumberText, WritesAsTheRuntimeItoaDoes) {
  char text[40];
  EXPECT_STREQ(ZAVNITOA(INT_MIN, text, 10), "-2147483648");
  EXPECT_STREQ(ZAVNITOA(-1, text, 16), "ffffffff");  // other radices as unsigned
  EXPECT_STREQ(ZAVNITOA(35, text, 36), "z");
  // Radices outside 2..36 give an empty text; a null buffer is left alone.
  EXPECT_STREQ(ZAVNITOA(5, text, 37), "");
  EXPECT_EQ(ZAVNITOA(5, nullptr, 10), nullptr);
}

}  // namespace
}  // namespace zavn::testing

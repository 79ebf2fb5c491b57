// Every command through the exported API, read back byte for byte from the virtual interface.
#include <climits>
#include <functional>
#include <string>

#include "firmware/image_checksum.h"
#include "support/library_fixture.h"
#include "support/output_log.h"

namespace zavn::testing {
namespace {

class CommandTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    id_ = PlugReceiver();
    ZAVNConnectRx();
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  }
  void TearDown() override {
    firmware::VUKChecksum() = 0;
    LibraryTest::TearDown();
  }
  Bytes Next() { return TakeOutput(id_); }

  std::int32_t id_ = 0;
};

TEST_F(CommandTest, ModeSwitchesSendTheirIdAndTheLowByteOfTheValue) {
  EXPECT_EQ(ZAVNSwitchBrowser(1, 0x1FF), 1);
  EXPECT_EQ(ZAVNSwitchKeyboard(1, 0x100), 1);
  EXPECT_EQ(ZAVNSwitchMotionKey(1, 3), 1);
  EXPECT_EQ(ZAVNSwitchRawdata(1, 5), 1);
  EXPECT_EQ(ZAVNSwitchGameMode(1, 0x80), 1);
  EXPECT_EQ(ZAVNSwitchGSensitivity(1, -1), 1);
  EXPECT_EQ(Next(), (Bytes{0x01, 0xFF}));
  EXPECT_EQ(Next(), (Bytes{0x02, 0x00}));
  EXPECT_EQ(Next(), (Bytes{0x03, 0x03}));
  EXPECT_EQ(Next(), (Bytes{0x04, 0x05}));
  EXPECT_EQ(Next(), (Bytes{0x05, 0x80}));
  EXPECT_EQ(Next(), (Bytes{0x06, 0xFF}));

  // The same ID in its 4-byte layouts.
  ZAVNSelectPlayerNum(1, 5);
  ZAVNSwitchRFAntenna(1, 0x102);
  EXPECT_EQ(Next(), (Bytes{0x04, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Next(), (Bytes{0x06, 0x02, 0x00, 0x00}));
}

TEST_F(CommandTest, SendCommandToTransmitterIsTheBrowserOrKeyboardSwitch) {
  const std::uint8_t value = 0x01;
  EXPECT_EQ(ZAVNSendCMDToTx(1, 1, &value), 1);
  EXPECT_EQ(ZAVNSendCMDToTx(1, 2, &value), 1);
  EXPECT_EQ(Next(), (Bytes{0x01, 0x01}));
  EXPECT_EQ(Next(), (Bytes{0x02, 0x01}));
  // Other commands read no pointer and send nothing.
  EXPECT_EQ(ZAVNSendCMDToTx(1, 0, nullptr), 1);
  EXPECT_EQ(ZAVNSendCMDToTx(1, 3, nullptr), 1);
  EXPECT_EQ(ZAVNSendCMDToTx(1, 1, nullptr), 1);
  EXPECT_TRUE(Next().empty());
}

TEST_F(CommandTest, SerialNumberQueryAndData) {
  ZAVNAskSerialNumber(1, 3, nullptr, 1);
  Bytes query = Next();
  ASSERT_EQ(query.size(), 16u);
  EXPECT_EQ(query[0], 0x05);
  EXPECT_EQ(query[1], 0x03);
  const std::string text(query.begin() + 2, query.end());
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(text[k] >= 'A' && text[k] <= 'Z') << text;
  for (int k = 4; k < 14; ++k) EXPECT_TRUE(text[k] >= '0' && text[k] <= '9') << text;

  std::uint8_t serial[16];
  for (int k = 0; k < 16; ++k) serial[k] = static_cast<std::uint8_t>(0xA0 + k);
  ZAVNAskSerialNumber(1, 2, serial, 2);
  Bytes data = Next();
  EXPECT_EQ(data, (Bytes{0x05, 0x02, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9,
                         0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF}));
  // Sub-commands other than 2 carry zeros and read no pointer.
  ZAVNAskSerialNumber(1, 0, nullptr, 2);
  EXPECT_EQ(Next(), WithZeros({0x05, 0x00}, 16));
  ZAVNAskSerialNumber(1, 2, nullptr, 2);  // nothing to send
  ZAVNAskSerialNumber(1, 3, serial, 0);
  ZAVNAskSerialNumber(1, 3, serial, 3);
  EXPECT_TRUE(Next().empty());
}

TEST_F(CommandTest, VersionAndAccountData) {
  const std::uint8_t version[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ZAVNReadWriteVersionNum(1, 0x101, version);
  EXPECT_EQ(Next(), (Bytes{0x0B, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

  std::uint8_t digits[25];
  for (std::uint8_t& digit : digits) digit = 7;
  digits[24] = 0xD0;  // wraps to 0x00
  ZAVNWriteAccountData(1, 0x03, 0x1AA, digits);
  Bytes account = Next();
  ASSERT_EQ(account.size(), 28u);
  EXPECT_EQ(account[0], 0x0A);
  EXPECT_EQ(account[1], 0x03);
  EXPECT_EQ(account[2], 0xAA);
  for (int k = 3; k < 27; ++k) EXPECT_EQ(account[k], 0x37) << k;
  EXPECT_EQ(account[27], 0x00);

  ZAVNReadWriteVersionNum(1, 0, nullptr);
  ZAVNWriteAccountData(1, 0, 0, nullptr);
  EXPECT_TRUE(Next().empty());
}

TEST_F(CommandTest, BootCommandsCarryTheirCodePairAndSelectorThreeTheChecksum) {
  const Bytes pairs[5] = {{0x65, 0x91}, {0x3E, 0xB2}, {0xCD, 0x5A}, {0x23, 0xB7}, {0x1C, 0x7B}};
  firmware::VUKChecksum() = 0x0001A2B3;
  for (int selector = 0; selector < 5; ++selector) {
    EXPECT_EQ(ZAVNReadFWNumBootNum(1, selector), 1);
    Bytes head{0x11, pairs[selector][0], pairs[selector][1]};
    if (selector == 3) head.insert(head.end(), {0x00, 0x01, 0xA2, 0xB3});
    EXPECT_EQ(Next(), WithZeros(head, 16 - head.size())) << selector;
  }
  EXPECT_EQ(ZAVNReadFWNumBootNum(1, 5), 0);
  EXPECT_EQ(ZAVNReadFWNumBootNum(1, -1), 0);
  EXPECT_EQ(ZAVNReadFWNumBootNum(2, 0), 0);  // slot not open
  EXPECT_EQ(ZAVNReadFWNumBootNum(0, 0), 0);
  EXPECT_TRUE(Next().empty());

  // A refused write gives the system's error code.
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
  EXPECT_EQ(ZAVNReadFWNumBootNum(1, 0),
            static_cast<std::int32_t>(platform::kErrorDeviceNotConnected));
}

TEST_F(CommandTest, TransmitterControls) {
  const std::uint8_t erase[8] = {0x45, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  const std::uint8_t motor[8] = {0x44, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  EXPECT_EQ(ZAVNSetMotorAction(1, erase), 16);
  EXPECT_EQ(ZAVNSetMotorAction(1, motor), 16);
  EXPECT_EQ(ZAVNSetMotorAction(1, nullptr), 16);
  EXPECT_EQ(Next(), (Bytes{0x07, 0x00, 0x00, 0x00, 0x17, 0x45, 0x52, 0x41, 0x53}));
  EXPECT_EQ(Next(), (Bytes{0x07, 0x44, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));

  const std::int32_t keys[12] = {0x141, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1};
  ZAVNSendAPIKeyboardMouse(1, keys);
  EXPECT_EQ(Next(), (Bytes{0x09, 0x41, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xFF}));

  std::int32_t stick[15];
  for (int k = 0; k < 15; ++k) stick[k] = 0x100 + k + 1;
  ZAVNSendAPINewKeyJoystick(1, stick);
  EXPECT_EQ(Next(), WithZeros({0x0D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 17));

  EXPECT_EQ(ZAVNSendScrResolMSXYPos(1, 1920, 1080, 960, 540), 1);
  EXPECT_EQ(Next(), (Bytes{0x12, 0x07, 0x80, 0x04, 0x38, 0x03, 0xC0, 0x02, 0x1C}));
  EXPECT_EQ(ZAVNSendScrResolMSXYPos(1, 0, 0, 0x12345, 0), 1);
  EXPECT_EQ(Next(), (Bytes{0x12, 0, 0, 0, 0, 0x23, 0x45, 0, 0}));

  EXPECT_EQ(ZAVNSendAppInfoToDongle(1, 0x1AB, 0xCD), 1);
  EXPECT_EQ(Next(), (Bytes{0x13, 0xAB, 0xCD}));

  ZAVNSendAPIKeyboardMouse(1, nullptr);
  ZAVNSendAPINewKeyJoystick(1, nullptr);
  EXPECT_TRUE(Next().empty());
}

// Every sender, as (player) -> result; each sends one report to an open slot of that player.
struct Sender {
  const char* name;
  std::function<std::int32_t(std::int32_t)> send;
  std::int32_t result;
};

std::vector<Sender> AllSenders() {
  static const std::uint8_t bytes[25] = {1};
  static const std::int32_t values[15] = {1};
  auto none = [](auto call) {
    return [call](std::int32_t p) {
      call(p);
      return 0;
    };
  };
  return {
      {"browser", [](std::int32_t p) { return ZAVNSwitchBrowser(p, 1); }, 1},
      {"keyboard", [](std::int32_t p) { return ZAVNSwitchKeyboard(p, 1); }, 1},
      {"motion key", [](std::int32_t p) { return ZAVNSwitchMotionKey(p, 1); }, 1},
      {"raw data", [](std::int32_t p) { return ZAVNSwitchRawdata(p, 1); }, 1},
      {"game mode", [](std::int32_t p) { return ZAVNSwitchGameMode(p, 1); }, 1},
      {"sensitivity", [](std::int32_t p) { return ZAVNSwitchGSensitivity(p, 1); }, 1},
      {"command", [](std::int32_t p) { return ZAVNSendCMDToTx(p, 1, bytes); }, 1},
      {"serial query", none([](std::int32_t p) { ZAVNAskSerialNumber(p, 3, nullptr, 1); }), 0},
      {"serial data", none([](std::int32_t p) { ZAVNAskSerialNumber(p, 2, bytes, 2); }), 0},
      {"version", none([](std::int32_t p) { ZAVNReadWriteVersionNum(p, 0, bytes); }), 0},
      {"account", none([](std::int32_t p) { ZAVNWriteAccountData(p, 0, 0, bytes); }), 0},
      {"boot", [](std::int32_t p) { return ZAVNReadFWNumBootNum(p, 0) == 0 ? 0 : -1; }, 0},
      {"motor", [](std::int32_t p) { return ZAVNSetMotorAction(p, bytes); }, 16},
      {"player number", none([](std::int32_t p) { ZAVNSelectPlayerNum(p, 1); }), 0},
      {"antenna", none([](std::int32_t p) { ZAVNSwitchRFAntenna(p, 1); }), 0},
      {"keyboard/mouse", none([](std::int32_t p) { ZAVNSendAPIKeyboardMouse(p, values); }), 0},
      {"joystick", none([](std::int32_t p) { ZAVNSendAPINewKeyJoystick(p, values); }), 0},
      {"screen", [](std::int32_t p) { return ZAVNSendScrResolMSXYPos(p, 1, 2, 3, 4); }, 1},
      {"app info", [](std::int32_t p) { return ZAVNSendAppInfoToDongle(p, 1, 2); }, 1},
  };
}

TEST_F(CommandTest, EverySenderSendsNothingToAClosedSlotOrAPlayerOutOfRange) {
  for (const Sender& sender : AllSenders()) {
    for (std::int32_t player : {2, 4, 0, 5, -1, INT_MIN, INT_MAX}) {
      EXPECT_EQ(sender.send(player), sender.result) << sender.name << " " << player;
    }
    EXPECT_TRUE(Next().empty()) << sender.name;
    // The same sender does reach an open slot.
    sender.send(1);
    EXPECT_FALSE(Next().empty()) << sender.name;
  }
  ZAVNDisconnectRx(1);
  for (const Sender& sender : AllSenders()) EXPECT_EQ(sender.send(1), sender.result) << sender.name;
  EXPECT_TRUE(Next().empty());
}

TEST_F(CommandTest, ReportsAreAsLongAsTheirLayoutWhateverTheInterfaceDeclares) {
  const std::int32_t wide = ZAVNVirtualPlug(kVendor, kProduct, kReportLength, 64, "NOLTADongle");
  ZAVNConnectRx();
  ASSERT_EQ(ZAVNGetRxStatus(2), LINK_OK);
  const std::size_t lengths[] = {2, 2, 2, 2, 2, 2, 2, 16, 18, 14, 28, 16, 9, 4, 4, 13, 33, 9, 3};
  std::vector<Sender> senders = AllSenders();
  ASSERT_EQ(senders.size(), std::size(lengths));
  for (std::size_t k = 0; k < senders.size(); ++k) {
    senders[k].send(2);
    EXPECT_EQ(TakeOutput(wide).size(), lengths[k]) << senders[k].name;
  }
}

TEST(NumberText, WritesAsTheRuntimeItoaDoes) {
  char text[40];
  EXPECT_STREQ(ZAVNITOA(-15, text, 10), "-15");
  EXPECT_STREQ(ZAVNITOA(-1, text, 16), "ffffffff");
  EXPECT_STREQ(ZAVNITOA(255, text, 2), "11111111");
  EXPECT_STREQ(ZAVNITOA(0, text, 10), "0");
  EXPECT_STREQ(ZAVNITOA(INT_MIN, text, 10), "-2147483648");
  EXPECT_STREQ(ZAVNITOA(INT_MIN, text, 2), "10000000000000000000000000000000");
  EXPECT_STREQ(ZAVNITOA(35, text, 36), "z");
  EXPECT_STREQ(ZAVNITOA(-8, text, 8), "37777777770");
  EXPECT_EQ(ZAVNITOA(1, text, 10), text);
  // Radices outside 2..36 give an empty text; a null buffer is left alone.
  EXPECT_STREQ(ZAVNITOA(5, text, 1), "");
  EXPECT_STREQ(ZAVNITOA(5, text, 37), "");
  EXPECT_EQ(ZAVNITOA(5, nullptr, 10), nullptr);
}

}  // namespace
}  // namespace zavn::testing

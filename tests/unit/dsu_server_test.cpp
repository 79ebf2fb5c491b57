#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/bridge/dsu_mapping.h"
#include "tools/bridge/dsu_server.h"

namespace bridge {
namespace {

using namespace dsu;

struct Sent {
  Endpoint to;
  std::vector<std::uint8_t> bytes;
};

// A server without a socket: its clock and what it sends are the test's.
struct Harness {
  std::int64_t now = 1'000'000;
  std::vector<Sent> sent;
  DsuServer server{[this] { return now; },
                   [this](const Endpoint& to, const std::uint8_t* b, std::size_t n) {
                     sent.push_back({to, {b, b + n}});
                   }};
  void Request(const std::vector<std::uint8_t>& bytes, std::uint16_t port = 5000) {
    server.HandleRequest(bytes.data(), bytes.size(), {0x7F000001, port});
  }
};

std::vector<std::uint8_t> ClientPacket(std::uint32_t type, std::vector<std::uint8_t> message) {
  std::vector<std::uint8_t> packet(kMessageOffset + message.size());
  for (std::size_t k = 0; k < message.size(); ++k) packet[kMessageOffset + k] = message[k];
  Seal(packet.data(), packet.size(), 77, type, false);
  return packet;
}
std::vector<std::uint8_t> Subscribe(std::uint8_t flags, std::uint8_t slot = 0,
                                    std::uint8_t mac = 0) {
  return ClientPacket(kDataType, {flags, slot, mac, mac, mac, mac, mac, mac});
}
std::uint32_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, b.data() + at, 4);  // the test hosts are little-endian
  return value;
}

TEST(DsuProtocol, Crc32OfTheCheckString) {
  EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST(DsuServer, BadPacketsAreCountedAndNeverAnswered) {
  Harness h;
  const auto good = ClientPacket(kVersionType, {});
  std::vector<std::pair<Verdict, std::vector<std::uint8_t>>> faults;
  auto fault = [&](Verdict v, auto change) {
    auto bytes = good;
    change(bytes);
    faults.push_back({v, bytes});
  };
  fault(Verdict::kWrongMagic, [](auto& b) { b[3] = 'S'; });
  fault(Verdict::kWrongVersion, [](auto& b) { b[4] = 0xEA; });
  fault(Verdict::kWrongCrc, [](auto& b) { b[12] ^= 1; });
  fault(Verdict::kTruncated, [](auto& b) { b.pop_back(); });
  fault(Verdict::kTruncated, [](auto& b) { b[6] = 5; });  // says 21 bytes, has 20
  fault(Verdict::kWrongLength, [](auto& b) { b[6] = 2; });
  fault(Verdict::kOversized, [](auto& b) { b.resize(kMaxRequestSize + 1); });
  faults.push_back({Verdict::kUnknownType, ClientPacket(0x110001, {})});
  faults.push_back({Verdict::kWrongLength, ClientPacket(kDataType, {0, 0, 1, 2, 3})});
  faults.push_back({Verdict::kWrongLength, ClientPacket(kInfoType, {5, 0, 0, 0, 0, 1, 2, 3})});
  for (const auto& [verdict, bytes] : faults) {
    EXPECT_EQ(ParseRequest(bytes.data(), bytes.size()).verdict, verdict) << VerdictName(verdict);
    h.Request(bytes);
  }
  EXPECT_TRUE(h.sent.empty());
  EXPECT_EQ(h.server.Read().badPackets, faults.size());

  // Bytes past the length are ignored; the answer is a sealed version packet.
  auto padded = good;
  padded.resize(40, 0xAA);
  h.Request(padded);
  ASSERT_EQ(h.sent.size(), 1u);
  auto answer = h.sent[0].bytes;
  ASSERT_EQ(answer.size(), 22u);
  EXPECT_EQ(std::memcmp(answer.data(), "DSUS\xE9\x03\x06\x00", 8), 0);
  const std::uint32_t crc = Word(answer, 8);
  std::memset(answer.data() + 8, 0, 4);
  EXPECT_EQ(Crc32(answer.data(), answer.size()), crc);
  EXPECT_EQ(Word(answer, 16), kVersionType);
}

TEST(DsuServer, EachRegistrationExpiresFiveSecondsAfterItsLastRequest) {
  Harness h;
  h.server.SetController(0, {true, {}});
  h.server.SetController(1, {true, {9, 9, 9, 9, 9, 9}});
  h.Request(Subscribe(kRegisterSlot, 0));
  h.now += 3'000'000;
  h.Request(Subscribe(kRegisterMac, 0, 9));
  h.Request(Subscribe(0), 5001);
  auto receivers = [&](int slot) {
    h.sent.clear();
    h.server.SendData(slot, {});
    std::vector<std::uint16_t> ports;
    for (const auto& s : h.sent) ports.push_back(s.to.port);
    return ports;
  };
  h.now += 1'999'999;  // the slot registration's last microsecond
  EXPECT_EQ(receivers(0), (std::vector<std::uint16_t>{5000, 5001}));
  h.now += 1;  // the MAC request did not renew it
  EXPECT_EQ(receivers(0), (std::vector<std::uint16_t>{5001}));
  EXPECT_EQ(receivers(1), (std::vector<std::uint16_t>{5000, 5001}));
  h.now += 3'000'000;
  EXPECT_TRUE(receivers(1).empty());
  EXPECT_EQ(h.server.Read().clients, 0u);
  EXPECT_EQ(h.server.Read().clientsEvicted, 2u);
}

TEST(DsuServer, AFloodOfClientsKeepsTheTableBounded) {
  Harness h;
  h.server.SetController(2, {true, {}});
  for (std::uint16_t k = 0; k < 1000; ++k, h.now += 1000) h.Request(Subscribe(0), 10000 + k);
  EXPECT_EQ(h.server.Read().clients, DsuServer::kMaxClients);
  EXPECT_EQ(h.server.Read().clientsEvicted, 1000 - DsuServer::kMaxClients);
  h.server.SendData(2, {});
  ASSERT_EQ(h.sent.size(), DsuServer::kMaxClients);
  EXPECT_EQ(h.sent.front().to.port, 10000 + 1000 - DsuServer::kMaxClients);  // the latest kept
}

TEST(DsuServer, EachClientCountsItsOwnDataPacketsAndTheLayoutHolds) {
  Harness h;
  h.server.SetController(3, {true, {1, 2, 3, 4, 5, 6}});
  h.Request(Subscribe(kRegisterSlot, 3), 5000);
  h.server.SendData(2, {});  // not connected: nothing
  h.server.SendData(3, {});
  h.server.SendData(3, {});
  h.Request(Subscribe(0), 5001);
  ZAVNMotionSample sample{};
  sample.buttons = 1u << 0;  // cross by default
  sample.accelG[2] = 1;      // lying face up
  sample.gyroDps[0] = 30;    // its front rising
  const std::int32_t extension[3] = {0, 32767, 32767};
  h.sent.clear();
  h.server.SendData(3, MapSample(sample, {}, SticksOf(extension, {})));
  ASSERT_EQ(h.sent.size(), 2u);
  EXPECT_EQ(Word(h.sent[0].bytes, 32), 2u);  // port 5000's third packet
  EXPECT_EQ(Word(h.sent[1].bytes, 32), 0u);  // port 5001's first
  const auto& b = h.sent[0].bytes;
  ASSERT_EQ(b.size(), 100u);
  EXPECT_EQ(b[20], 3);     // slot
  EXPECT_EQ(b[24], 1);     // MAC
  EXPECT_EQ(b[31], 1);     // connected
  EXPECT_EQ(b[37], 0x41);  // cross and L2
  EXPECT_EQ(b[40], 128);   // left stick x centred
  EXPECT_EQ(b[41], 255);   // left stick y full up
  EXPECT_EQ(b[55], 255);   // L2
  float motion[6];         // accel x, y, z, gyro pitch, yaw, roll
  std::memcpy(motion, b.data() + 76, sizeof motion);
  EXPECT_EQ(motion[1], -1.0f);
  EXPECT_EQ(motion[3], 30.0f);
  EXPECT_EQ(h.server.Read().dataPackets, 4u);
}

}  // namespace
}  // namespace bridge

// The bridge's DSU packets against the virtual controller's truth: lying on three faces and
// turning about each axis in turn, each data packet carries its sample's motion on the axes DSU
// clients expect of a DualShock 4. And the DSU server's threads meeting.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/library_fixture.h"
#include "tools/bridge/dsu_mapping.h"
#include "tools/bridge/dsu_server.h"
#include "tools/bridge/player_feed.h"
#include "zavn/zavn_motion.h"

namespace zavn::testing {
namespace {

constexpr std::size_t kMotionAt = 76;  // accel x, y, z, gyro pitch, yaw, roll: six floats

class BridgeMotionTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    system_.AdvanceClockOnSleep();
    id_ = ZAVNVirtualPlugReceiver(1, 1000);
    ASSERT_GT(id_, 0);
    Connect();
    AwaitPlayers();
    server_.SetController(0, {true, {2, 0, 0, 0, 0, 1}});
    // A client subscribed to every slot: version 1001, data request, all slots.
    std::vector<std::uint8_t> request(bridge::dsu::kMessageOffset + 8);
    bridge::dsu::Seal(request.data(), request.size(), 7, bridge::dsu::kDataType, false);
    server_.HandleRequest(request.data(), request.size(), {0x7F000001, 5000});
  }
  std::int32_t id_ = 0;
  std::vector<std::vector<std::uint8_t>> sent_;
  bridge::DsuServer server_{{},
                            [this](const bridge::Endpoint&, const std::uint8_t* b, std::size_t n) {
                              sent_.emplace_back(b, b + n);
                            }};
};

TEST_F(BridgeMotionTest, LyingFlatAndTurningAboutEachAxisReadAsADualShock4) {
  const struct {
    float accel[3], gyro[3];
    float dsu[6];  // what a DS4 reads: accel x, y, z in g, pitch, yaw, roll in deg/s
  } cases[] = {
      {{0, 0, 1}, {}, {0, -1, 0, 0, 0, 0}},            // lying face up
      {{1, 0, 0}, {}, {-1, 0, 0, 0, 0, 0}},            // on its left side, right side up
      {{0, 1, 0}, {}, {0, 0, 1, 0, 0, 0}},             // standing on its end, pointing up
      {{0, 0, 1}, {90, 0, 0}, {0, -1, 0, 90, 0, 0}},   // its front rising
      {{0, 0, 1}, {0, 90, 0}, {0, -1, 0, 0, 0, 90}},   // its right side going down
      {{0, 0, 1}, {0, 0, 90}, {0, -1, 0, 0, -90, 0}},  // turning left
  };
  ZAVNMotionSample samples[ZAVN_MOTION_RING];
  for (const auto& c : cases) {
    ZAVNVirtualSetMotion(id_, c.accel, c.gyro);
    for (int step = 0; step < 20; ++step) ASSERT_TRUE(system_.Step());
    const int count = ZAVNReadMotion(1, samples, ZAVN_MOTION_RING);
    ASSERT_GT(count, 100);
    sent_.clear();
    for (int k = count - 100; k < count; ++k) {
      server_.SendData(0, bridge::dsu::MapSample(samples[k], {}, {}));
    }
    ASSERT_EQ(sent_.size(), 100u);
    for (std::size_t k = 0; k < sent_.size(); ++k) {
      const ZAVNMotionSample& s = samples[count - 100 + static_cast<int>(k)];
      float dsu[6];
      std::memcpy(dsu, sent_[k].data() + kMotionAt, sizeof dsu);
      const float mapped[6] = {-s.accelG[0], -s.accelG[2],  s.accelG[1],
                               s.gyroDps[0], -s.gyroDps[2], s.gyroDps[1]};
      for (int a = 0; a < 6; ++a) {
        ASSERT_EQ(dsu[a], mapped[a]) << a;  // the sample's values, as documented
        ASSERT_NEAR(dsu[a], c.dsu[a], a < 3 ? 0.05 : 1.0) << a;  // the truth
      }
    }
  }
}

}  // namespace
}  // namespace zavn::testing

namespace bridge {
namespace {

// The server's threads as the bridge runs them: its request thread answering a client on
// loopback while the feed sends data, the controllers change and it closes mid-stream.
TEST(DsuServerThreads, RequestsDataAndCloseMeetWithoutARace) {
  DsuServer server;
  std::string error;
  ASSERT_TRUE(server.Open("127.0.0.1", 0, error)) << error;
  const int client = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(client, 0);
  timeval wait{0, 1000};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(server.Port());
  std::vector<std::uint8_t> request(dsu::kMessageOffset + 8);
  dsu::Seal(request.data(), request.size(), 7, dsu::kDataType, false);
  std::atomic<int> received{0};
  std::jthread asking([&](std::stop_token stop) {
    std::uint8_t packet[128];
    while (!stop.stop_requested()) {
      sendto(client, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to);
      if (recv(client, packet, sizeof packet, 0) > 0) ++received;
    }
  });
  std::jthread naming([&server](std::stop_token stop) {
    for (int k = 0; !stop.stop_requested(); ++k) server.SetController(k % 4, {k % 3 != 0, {}});
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int k = 0; received < 200 && std::chrono::steady_clock::now() < limit; ++k) {
    server.SendData(k % 4, {});
  }
  server.Close();  // while the others go on
  for (int k = 0; k < 100; ++k) server.SendData(k % 4, {});
  asking.request_stop();
  naming.request_stop();
  asking.join();
  close(client);
  EXPECT_GT(received, 0);
  EXPECT_GT(server.Read().requests, 0u);
}

}  // namespace
}  // namespace bridge

namespace bridge {
namespace {

// The feed as the bridge runs it, on the OS clock: woken by the poll thread's callback, it hands
// each player's samples on in order, until its stop.
TEST(PlayerFeedThreads, TheSamplesReachTheOutputsInOrder) {
  struct Counting : Output {
    void PlayerChanged(int, const PlayerState&) override {}
    void Sample(int player, const ZAVNMotionSample& sample, const PlayerControls&) override {
      std::uint32_t& last = lastSample[player - 1];
      inOrder = inOrder && (last == 0 || sample.sample == last + 1);
      last = sample.sample;
    }
    std::uint32_t lastSample[kPlayers] = {};
    bool inOrder = true;
  } counting;
  const std::int32_t previous = ZAVNVirtualSelect(1);
  ZAVNReset();
  ZAVNVirtualClear();
  ASSERT_GT(ZAVNVirtualPlugReceiver(2, 1000), 0);
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  const ControlProfiles profiles;
  std::atomic<bool> stop{false};
  {
    PlayerFeed feed({&counting}, profiles);
    std::jthread stopping([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      stop = true;
    });
    feed.Run(stop, 0, [] {});
  }
  ZAVNTerminate(0);
  ZAVNReset();
  ZAVNVirtualClear();
  ZAVNVirtualSelect(previous);
  EXPECT_GT(counting.lastSample[0], 0u);
  EXPECT_GT(counting.lastSample[1], 0u);
  EXPECT_TRUE(counting.inOrder);
}

}  // namespace
}  // namespace bridge

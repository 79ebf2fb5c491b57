// The game plug-in dispatch with real plug-in libraries and the real "NoltaUT.ini" beside the
// test executable, while a virtual transmitter streams player 1.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/player_assignment.h"
#include "games/game_dispatch.h"
#include "input/slot_report_mode.h"
#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

class GameDispatchTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    log_ = ::testing::TempDir() + "zavn_plugin_" + test->name() + ".log";
    std::remove(log_.c_str());
    setenv("ZAVN_PLUGIN_LOG", log_.c_str(), 1);
    system_.AdvanceClockOnSleep();
    system_.SetNow(1000);
    id_ = ZAVNVirtualPlugReceiver(1, 100);  // one record per 10 ms cycle
    ASSERT_GT(id_, 0);
  }
  void TearDown() override {
    ZAVNClearGameChannel();
    LibraryTest::TearDown();
    std::remove(log_.c_str());
  }

  void ConnectPlayerOne() {
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    for (int k = 0; k < 200 && core::Players().assignDone == 0; ++k) Cycle();
    ASSERT_EQ(core::Players().assignDone, 1);
  }
  void Cycle() { ASSERT_TRUE(system_.StepCycle()); }
  void Select(std::int32_t game, std::array<std::int32_t, 4> modes = {},
              std::int32_t parameter = 0) {
    ZAVNSelectGameChannel(game, modes.data(), parameter);
  }

  // The plug-in log's lines not read yet, each cut before its " slots" unless `whole`.
  std::vector<std::string> NewLog(bool whole = false) {
    std::ifstream in(log_);
    std::vector<std::string> fresh;
    std::size_t n = 0;
    for (std::string line; std::getline(in, line); ++n) {
      if (n >= seen_) fresh.push_back(whole ? line : line.substr(0, line.find(" slots")));
    }
    seen_ = n;
    return fresh;
  }
  static std::string Call(const std::string& plugin, int player, int game, int parameter) {
    return plugin + " call player " + std::to_string(player) + " game " + std::to_string(game) +
           " parameter " + std::to_string(parameter);
  }

  std::string log_;
  std::size_t seen_ = 0;
  std::int32_t id_ = 0;
};

TEST_F(GameDispatchTest, ChangingTheGameOrTerminatingSaysGoodbyeAndUnloads) {
  ConnectPlayerOne();
  Select(3, {}, 7);
  Cycle();
  EXPECT_EQ(NewLog(), (std::vector<std::string>{"GameThree loaded", Call("GameThree", 1, 3, 7)}));
  Cycle();
  EXPECT_EQ(NewLog(), std::vector<std::string>{Call("GameThree", 1, 3, 7)});

  Select(5, {}, 9);
  Cycle();
  EXPECT_EQ(NewLog(), (std::vector<std::string>{Call("GameThree", 1, 0, 9), "GameThree unloaded",
                                                "GameFive loaded", Call("GameFive", 1, 5, 9)}));
  EXPECT_EQ(games::LoadedGame(), 5);

  // The same game again: no reload.
  Select(5, {}, 9);
  Cycle();
  EXPECT_EQ(NewLog(), std::vector<std::string>{Call("GameFive", 1, 5, 9)});

  // Cleared: one goodbye and the unload, then nothing.
  ZAVNClearGameChannel();
  Cycle();
  EXPECT_EQ(NewLog(), (std::vector<std::string>{Call("GameFive", 1, 0, 9), "GameFive unloaded"}));
  Cycle();
  EXPECT_TRUE(NewLog().empty());
  EXPECT_FALSE(games::PluginLoaded());

  // Terminate says goodbye to each player, then unloads.
  Select(3, {}, 4);
  Cycle();
  NewLog();
  EXPECT_EQ(ZAVNTerminate(0), 1);
  EXPECT_EQ(NewLog(),
            (std::vector<std::string>{Call("GameThree", 1, 0, 0), Call("GameThree", 2, 0, 0),
                                      Call("GameThree", 3, 0, 0), Call("GameThree", 4, 0, 0),
                                      "GameThree unloaded"}));
  EXPECT_FALSE(games::PluginLoaded());
}

TEST_F(GameDispatchTest, PluginsSeeTheSlotsAndTheChannelModesOfLongReports) {
  // Player 2 on a receiver that sends long reports.
  const std::int32_t wide = ZAVNVirtualPlug(kVendor, kProduct, 64, 33, "NOLTADongle");
  ConnectPlayerOne();
  std::array<std::uint8_t, 64> report{};
  PutMotion(report.data(), {1, 2, 3, 4, 5, 6});
  PutExtension(report.data(), {7, 8, 9}, true);
  ASSERT_EQ(ZAVNVirtualQueueInput(wide, report.data(), 64), 1);
  Cycle();
  ASSERT_EQ(input::SlotReportMode(1), input::kLongReportMode);
  ASSERT_EQ(core::Players().playerSlot[1], 2);

  Select(3, {0, 1, 1, 0});
  Cycle();
  const std::vector<std::string> log = NewLog(true);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("slots 1 2 0 0 modes 0 3 1 0"), std::string::npos) << log[1];
}

TEST_F(GameDispatchTest, PluginsThatCannotServeLoadNothingAndBreakNothing) {
  ConnectPlayerOne();
  for (std::int32_t game : {7, 8, 9, 10, -2, 6}) {
    Select(game);
    for (int k = 0; k < 3; ++k) Cycle();
    // A library without the entry function is loaded, found wanting and freed at once.
    const std::vector<std::string> expected =
        game == 8 ? std::vector<std::string>{"SomethingElse loaded", "SomethingElse unloaded"}
                  : std::vector<std::string>{};
    EXPECT_EQ(NewLog(), expected) << game;
    EXPECT_FALSE(games::PluginLoaded()) << game;
    EXPECT_EQ(games::LoadedGame(), game);
  }
  auto status = std::make_unique<PlayerStatus>();
  ZAVNGetStatus(1, status.get());
  EXPECT_GT(status->MotionCount, 0);  // the stream went on

  // A DLL_PATH with a backslash finds the plug-in in the subfolder.
  Select(4);
  Cycle();
  EXPECT_EQ(NewLog(), (std::vector<std::string>{"GameFour loaded", Call("GameFour", 1, 4, 0)}));
}

}  // namespace
}  // namespace zavn::testing

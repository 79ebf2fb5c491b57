// The game plug-in dispatch with real plug-in libraries and the real "NoltaUT.ini" beside the
// test executable, while a virtual transmitter streams player 1.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/player_assignment.h"
#include "games/game_dispatch.h"
#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

using Lines = std::vector<std::string>;

class GameDispatchTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    log_ = ::testing::TempDir() + "zavn_plugin_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(log_.c_str());
    setenv("ZAVN_PLUGIN_LOG", log_.c_str(), 1);
    system_.AdvanceClockOnSleep();
    system_.SetNow(1000);
    ASSERT_GT(ZAVNVirtualPlugReceiver(1, 100), 0);  // one record per 10 ms cycle
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
  static void Select(std::int32_t game, std::int32_t parameter = 0,
                     std::array<std::int32_t, 4> modes = {}) {
    ZAVNSelectGameChannel(game, modes.data(), parameter);
  }
  // The plug-in log's lines not read yet, each cut before its " slots" unless `whole`.
  Lines NewLog(bool whole = false) {
    std::ifstream in(log_);
    Lines fresh;
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
};

TEST_F(GameDispatchTest, PluginsAreLoadedCalledWithSlotsAndModesAndSaidGoodbyeToOnUnload) {
  // Player 2 on a receiver that sends long reports: its mode 1 reaches the plug-in as 3.
  const std::int32_t wide = ZAVNVirtualPlug(kVendor, kProduct, 64, 33, "NOLTADongle");
  ConnectPlayerOne();
  std::array<std::uint8_t, 64> report{};
  PutMotion(report.data(), {1, 2, 3, 4, 5, 6});
  PutExtension(report.data(), {7, 8, 9}, true);
  ASSERT_EQ(ZAVNVirtualQueueInput(wide, report.data(), 64), 1);
  Cycle();
  ASSERT_EQ(core::Players().playerSlot[1], 2);

  Select(3, 7, {0, 1, 1, 0});
  Cycle();
  const Lines log = NewLog(true);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "GameThree loaded");
  EXPECT_EQ(log[1].rfind(Call("GameThree", 1, 3, 7) + " slots 1 2 0 0 modes 0 3 1 0", 0), 0u);

  for (int again = 0; again < 2; ++again) {  // the same game again: no reload
    Select(5, 9);
    Cycle();
  }
  EXPECT_EQ(NewLog(), (Lines{Call("GameThree", 1, 0, 9), "GameThree unloaded", "GameFive loaded",
                             Call("GameFive", 1, 5, 9), Call("GameFive", 1, 5, 9)}));

  ZAVNClearGameChannel();
  Cycle();
  Cycle();
  EXPECT_EQ(NewLog(), (Lines{Call("GameFive", 1, 0, 9), "GameFive unloaded"}));

  // Terminate says goodbye to each player, then unloads.
  Select(3, 4);
  Cycle();
  NewLog();
  EXPECT_EQ(ZAVNTerminate(0), 1);
  EXPECT_EQ(NewLog(),
            (Lines{Call("GameThree", 1, 0, 0), Call("GameThree", 2, 0, 0),
                   Call("GameThree", 3, 0, 0), Call("GameThree", 4, 0, 0), "GameThree unloaded"}));
  EXPECT_FALSE(games::PluginLoaded());
}

// No entry function (8), a path too long (10), a bad game number: nothing stays loaded and the
// stream goes on. A DLL_PATH with a backslash finds the plug-in in the subfolder.
TEST_F(GameDispatchTest, PluginsThatCannotServeLoadNothingAndBreakNothing) {
  ConnectPlayerOne();
  for (std::int32_t game : {8, 10, -2}) {
    Select(game);
    for (int k = 0; k < 3; ++k) Cycle();
    const Lines expected = {"SomethingElse loaded", "SomethingElse unloaded"};
    EXPECT_EQ(NewLog(), game == 8 ? expected : Lines{}) << game;
    EXPECT_FALSE(games::PluginLoaded()) << game;
  }
  auto status = std::make_unique<PlayerStatus>();
  ZAVNGetStatus(1, status.get());
  EXPECT_GT(status->MotionCount, 0);

  Select(4);
  Cycle();
  EXPECT_EQ(NewLog(), (Lines{"GameFour loaded", Call("GameFour", 1, 4, 0)}));
}

}  // namespace
}  // namespace zavn::testing

// The game plug-in dispatch with real plug-in libraries and the real "NoltaUT.ini" beside the
// test executable, while a virtual transmitter streams player 1.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/player_assignment.h"
#include "games/game_dispatch.h"
#include "support/eventually.h"
#include "support/library_fixture.h"
#include "support/plugin_hook.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

// What the plug-in HookGame does: its next call sleeps this long, with g_hookInside set.
std::atomic<int> g_hookSleepMs{0};
std::atomic<bool> g_hookInside{false};
// The tables the plug-in was last shown, and by how many calls.
std::atomic<const std::int32_t*> g_hookSlots{nullptr};
std::atomic<const std::int32_t*> g_hookModes{nullptr};
std::atomic<int> g_hookCalls{0};

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
    // Player 2's receiver sends long reports, when a test queues them.
    wide_ = ZAVNVirtualPlug(kVendor, kProduct, 64, 33, "NOLTADongle");
    Connect();
    AwaitPlayers();
  }
  void TearDown() override {
    LibraryTest::TearDown();
    std::remove(log_.c_str());
  }

  void Cycle() { ASSERT_TRUE(system_.Step()); }
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

  std::int32_t wide_ = 0;
  std::string log_;
  std::size_t seen_ = 0;
};

TEST_F(GameDispatchTest, PluginsAreLoadedCalledWithSlotsAndModesAndSaidGoodbyeToOnUnload) {
  // Player 2 on the receiver of long reports: its mode 1 reaches the plug-in as 3.
  std::array<std::uint8_t, 64> report{};
  PutMotion(report.data(), {1, 2, 3, 4, 5, 6});
  PutExtension(report.data(), {7, 8, 9}, true);
  ASSERT_EQ(ZAVNVirtualQueueInput(wide_, report.data(), 64), 1);
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

// A missing file (7), no entry function (8), a name without an extension (9): nothing stays
// loaded and the stream goes on (bad game numbers and paths are the settings test's). A DLL_PATH
// with a backslash finds the plug-in in the subfolder.
TEST_F(GameDispatchTest, PluginsThatCannotServeLoadNothingAndBreakNothing) {
  for (std::int32_t game : {7, 8, 9}) {
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

// The poll thread holds no lock while the plug-in runs: a snapshot taken meanwhile is not
// delayed by the plug-in's 300 ms call. The plug-in is shown the library's own player-to-slot and
// channel-mode tables, the same from the dispatch on the poll thread and from the goodbye of
// ZAVNTerminate on the host's.
TEST_F(GameDispatchTest, APluginSeesTheLibrarysOwnTablesAndDelaysNoSnapshot) {
  Select(ZAVN_HOOK_GAME);
  g_hookCalls = 0;
  g_hookSleepMs = 300;
  std::thread cycle([&] { EXPECT_TRUE(system_.Step()); });
  const bool inside = Eventually([] { return g_hookInside.load(); });
  EXPECT_TRUE(inside) << "the plug-in was not called";
  auto status = std::make_unique<PlayerStatus>();
  for (std::int32_t player : {1, 2}) {
    if (!inside) break;
    const auto start = std::chrono::steady_clock::now();
    ZAVNGetStatus(player, status.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50)) << player;
  }
  cycle.join();
  g_hookSleepMs = 0;

  ASSERT_GT(g_hookCalls, 0);
  const std::int32_t* slots = g_hookSlots;
  const std::int32_t* modes = g_hookModes;
  EXPECT_EQ(slots, reinterpret_cast<const std::int32_t*>(core::Players().playerSlot));
  const int calls = g_hookCalls;
  ZAVNTerminate(0);
  EXPECT_EQ(g_hookCalls, calls + 4);
  EXPECT_EQ(g_hookSlots, slots);
  EXPECT_EQ(g_hookModes, modes);
}

}  // namespace
}  // namespace zavn::testing

// The plug-in HookGame's calls.
extern "C" ZAVN_PLUGIN_EXPORT int32_t ZAVN_CALL ZAVNTestPluginHook(int32_t,
                                                                   const int32_t* playerSlot,
                                                                   PlayerStatus*, int32_t,
                                                                   const int32_t* channelModes,
                                                                   int32_t) {
  using namespace zavn::testing;
  g_hookSlots = playerSlot;
  g_hookModes = channelModes;
  ++g_hookCalls;
  if (const int ms = g_hookSleepMs.exchange(0); ms > 0) {
    g_hookInside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    g_hookInside = false;
  }
  return 0;
}

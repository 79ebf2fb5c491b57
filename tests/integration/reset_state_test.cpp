// The library reset leaves the state a fresh load has, compared piece by piece. A process of its
// own, so that its first reset meets the state the library is loaded with.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "commands/game_channel.h"
#include "commands/periodic_clock.h"
#include "core/player_assignment.h"
#include "core/run_state.h"
#include "games/game_dispatch.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "support/report_builder.h"
#include "support/stepped_system.h"
#include "transport/link_table.h"
#include "transport/report_reader.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace zavn::testing {
namespace {

long long NonZeroBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::count_if(bytes, bytes + size, [](std::uint8_t byte) { return byte != 0; });
}

// Every piece of state the reset owns. The host's game parameter and the update machines' own
// progress are not the reset's and are left out.
std::vector<long long> Snapshot() {
  const transport::LinkTable& links = transport::Links();
  const core::PlayerAssignment& players = core::Players();
  const core::RunState& run = core::Run();
  const commands::PeriodicClock& clock = commands::Periodic();
  const commands::GameChannelWords channel = commands::ReadGameChannel();
  std::int32_t modes[4];
  games::ChannelModes(modes);
  std::vector<long long> s = {
      players.assignDone,      run.threadRunFlag,  run.loopRunFlag,     run.resetState,
      input::DecodeComplete(), clock.joystickLoop, clock.lastTick,      clock.nowTick,
      channel.selectedGame,    channel.modesTaken, games::LoadedGame(), games::PluginLoaded(),
      ZAVNGetVUKAppCheckSum()};
  for (int i = 0; i < 4; ++i) {
    const transport::InputBuffer& buffer = transport::InputBufferOf(i);
    s.insert(s.end(),
             {links.openState[i], links.rxStatus[i], links.txStatus[i], links.pollEnabled[i],
              NonZeroBytes(&links.knownPaths[i], sizeof links.knownPaths[i]),
              players.reportCount[i], players.assignFlag[i], players.playerSlot[i],
              input::SlotReportMode(i), NonZeroBytes(buffer.data(), buffer.size()),
              NonZeroBytes(&input::LibraryStatus(i + 1), sizeof(PlayerStatus)),
              ZAVNGetBootloaderStatus(i + 1), ZAVNCheckHarlonCHKAK(i + 1), ZAVNCheckVUKCHKAK(i + 1),
              channel.pendingModes[i], modes[i]});
  }
  std::uint32_t rates[4][4];
  std::uint32_t* rows[4] = {rates[0], rates[1], rates[2], rates[3]};
  ZAVNGetRawdataFPS(0, rows);
  s.insert(s.end(), &rates[0][0], &rates[0][0] + 16);
  return s;
}

TEST(ResetState, AResetLeavesWhatAFreshLoadHas) {
  const std::string log = ::testing::TempDir() + "zavn_reset_plugin.log";
  setenv("ZAVN_PLUGIN_LOG", log.c_str(), 1);
  ZAVNVirtualSelect(1);
  SteppedSystem system;
  system.SetNow(5000);
  platform::InstallSystem(&system);

  ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
  const std::vector<long long> fresh = Snapshot();

  // Busy: four players streaming (the fourth with long reports), a game plug-in served and a
  // whole firmware update run on a free-running clock.
  system.AdvanceClockOnSleep();
  ASSERT_GT(ZAVNVirtualPlugReceiver(3, 100), 0);
  const std::int32_t wide = ZAVNVirtualPlug(0xFFFF, 0x0008, 64, 33, "NOLTADongle");
  const std::int32_t modes[4] = {1, 1, 0, 1};
  ZAVNSelectGameChannel(3, modes, 11);
  ZAVNTurnONJoystickAPILoop(0);
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  std::array<std::uint8_t, 64> report{};
  PutMotion(report.data(), {1, 2, 3, 4, 5, 6});
  PutExtension(report.data(), {7, 8, 9}, true);
  system.RunFreely();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // Connected, until the update is done and player 1, streaming again, has had the plug-in loaded.
  while ((ZAVNGetBootloaderStatus(1) != ZAVN_UPDATE_DONE || !games::PluginLoaded()) &&
         std::chrono::steady_clock::now() < deadline) {
    ZAVNVirtualQueueInput(wide, report.data(), 64);
    if (ZAVNGetRxStatus(1) != LINK_OK) {
      ZAVNConnectRx();
      ZAVNRoutineFunc();
    }
    std::this_thread::yield();
  }
  ASSERT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_DONE);
  ASSERT_TRUE(games::PluginLoaded());
  ASSERT_EQ(input::SlotReportMode(3), input::kLongReportMode);
  ZAVNTerminate(0);
  for (int p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  ZAVNVirtualClear();
  ASSERT_NE(Snapshot(), fresh);

  system.StepFromNowOn();
  system.SetNow(5000);
  ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
  const std::vector<long long> reset = Snapshot();
  for (std::size_t k = 0; k < fresh.size(); ++k) EXPECT_EQ(reset[k], fresh[k]) << "piece " << k;
  EXPECT_EQ(commands::GameChannelParam(), 11);  // the host's, kept
  platform::InstallSystem(nullptr);
  std::remove(log.c_str());
}

}  // namespace
}  // namespace zavn::testing

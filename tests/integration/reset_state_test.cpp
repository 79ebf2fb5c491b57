// The library reset leaves the same state as a fresh load: compared field by field, and by the
// library's answers to the same session run after each. Runs as a process of its own, so that
// its first reset meets the state the library is loaded with.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands/game_channel.h"
#include "commands/periodic_clock.h"
#include "core/link_table.h"
#include "core/player_assignment.h"
#include "core/run_state.h"
#include "games/game_dispatch.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "support/output_log.h"
#include "support/report_builder.h"
#include "support/stepped_system.h"
#include "transport/report_reader.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace zavn::testing {
namespace {

constexpr std::uint32_t kResetTick = 5000;
using State = std::map<std::string, std::vector<long long>>;

long long NonZeroBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::count_if(bytes, bytes + size, [](std::uint8_t byte) { return byte != 0; });
}

// Every piece of state the reset owns, grouped by its owner. The host's game parameter and the
// update machines' own progress are not the reset's and are left out.
State Snapshot() {
  State s;
  const core::LinkTable& links = core::Links();
  const core::PlayerAssignment& players = core::Players();
  for (int i = 0; i < 4; ++i) {
    const std::string slot = " " + std::to_string(i + 1);
    const transport::InputBuffer& buffer = transport::InputBufferOf(i);
    s["links" + slot] = {links.openState[i], links.rxStatus[i], links.txStatus[i],
                         links.pollEnabled[i],
                         NonZeroBytes(&links.knownPaths[i], sizeof links.knownPaths[i])};
    s["players" + slot] = {players.reportCount[i], players.assignFlag[i], players.playerSlot[i]};
    s["input" + slot] = {input::SlotReportMode(i), NonZeroBytes(buffer.data(), buffer.size()),
                         NonZeroBytes(&input::LibraryStatus(i + 1), sizeof(PlayerStatus))};
    s["firmware" + slot] = {ZAVNGetBootloaderStatus(i + 1), ZAVNCheckHarlonCHKAK(i + 1),
                            ZAVNCheckVUKCHKAK(i + 1)};
  }
  const core::RunState& run = core::Run();
  s["run"] = {players.assignDone, run.threadRunFlag, run.loopRunFlag, run.resetState,
              input::DecodeComplete()};
  std::uint32_t rates[4][4];
  std::uint32_t* rows[4] = {rates[0], rates[1], rates[2], rates[3]};
  ZAVNGetRawdataFPS(0, rows);
  s["rates"] = std::vector<long long>(&rates[0][0], &rates[0][0] + 16);
  const commands::PeriodicClock& clock = commands::Periodic();
  const commands::GameChannelWords channel = commands::ReadGameChannel();
  s["commands"] = {clock.joystickLoop,      clock.lastTick,          clock.nowTick,
                   channel.selectedGame,    channel.pendingModes[0], channel.pendingModes[1],
                   channel.pendingModes[2], channel.pendingModes[3], channel.modesTaken};
  std::int32_t modes[4];
  games::ChannelModes(modes);
  s["dispatch"] = {games::LoadedGame(),  modes[0], modes[1], modes[2], modes[3],
                   games::PluginLoaded()};
  s["image checksum"] = {ZAVNGetVUKAppCheckSum()};
  return s;
}

template <typename Words>
std::string Join(const Words& words) {
  std::string text;
  for (const auto& word : words) text += " " + std::to_string(word);
  return text;
}

// The same session after each reset: a long-report receiver connected, polled until it is player
// 1, then fed reports whose extension triples are invalid (they show the held ones) and left
// silent for a while. What the library answers along the way, a line each.
std::string Probe(SteppedSystem& system) {
  std::string seen;
  const std::int32_t id = ZAVNVirtualPlug(0xFFFF, 0x0008, 64, 33, "NOLTADongle");
  ZAVNConnectRx();
  // The thread's first cycle runs as it starts: polling goes on only once it has parked.
  system.Step();
  ZAVNRoutineFunc();
  std::array<std::uint8_t, 64> report{};
  for (int cycle = 0; cycle < 160; ++cycle) {
    if (cycle < 120) {
      PutMotion(report.data(), {static_cast<std::uint16_t>(cycle), 1, 2, 3, 4, 5});
      PutExtension(report.data(), {9, 9, 9}, false);
      ZAVNVirtualQueueInput(id, report.data(), 64);
    }
    system.Advance(10);
    if (!system.Step()) {
      seen += "thread ended\n";
      break;
    }
    seen += Join(std::vector<int>{ZAVNGetRxStatus(1), ZAVNGetTxStatus(1)}) + "\n";
  }
  auto status = std::make_unique<PlayerStatus>();
  ZAVNGetStatus(1, status.get());
  seen += "record bytes " + std::to_string(NonZeroBytes(status.get(), sizeof(PlayerStatus))) +
          "\nextension" + Join(std::vector<int>(status->Extension, status->Extension + 3)) +
          "\nmotion count " + std::to_string(status->MotionCount) + "\n";
  for (const Bytes& sent : TakeAllOutput(id)) seen += "sent" + Join(sent) + "\n";
  std::uint32_t rates[4];
  std::uint32_t* rows[4] = {rates, nullptr, nullptr, nullptr};
  ZAVNGetRawdataFPS(0, rows);
  seen += "rates" + Join(rates) + "\n";
  ZAVNTerminate(0);
  ZAVNVirtualClear();
  return seen;
}

// A library that has streamed four players (the fourth with long reports), served a game
// plug-in and run a whole firmware update, on a free-running clock.
void Busy(SteppedSystem& system) {
  system.AdvanceClockOnSleep();
  ZAVNReset();
  ASSERT_GT(ZAVNVirtualPlugReceiver(3, 100), 0);
  const std::int32_t wide = ZAVNVirtualPlug(0xFFFF, 0x0008, 64, 33, "NOLTADongle");
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  const std::int32_t modes[4] = {1, 1, 0, 1};
  ZAVNSelectGameChannel(3, modes, 11);
  ZAVNTurnONJoystickAPILoop(0);
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  std::array<std::uint8_t, 64> report{};
  PutMotion(report.data(), {1, 2, 3, 4, 5, 6});
  PutExtension(report.data(), {7, 8, 9}, true);
  system.RunFreely();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // Until the update is done and player 1, streaming again, has had the plug-in loaded.
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
  ASSERT_NE(ZAVNGetVUKAppCheckSum(), 0u);
  ASSERT_TRUE(games::PluginLoaded());
  ASSERT_EQ(input::SlotReportMode(3), input::kLongReportMode);
  ZAVNTerminate(0);
  for (int p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  ZAVNVirtualClear();
}

// Runs `phase` with a stepped system of its own installed, its clock at the reset tick.
template <typename Phase>
void OnItsOwnSystem(Phase phase) {
  SteppedSystem system;
  system.SetNow(kResetTick);
  platform::InstallSystem(&system);
  phase(system);
  platform::InstallSystem(nullptr);
}

TEST(ResetState, AResetLeavesWhatAFreshLoadHas) {
  const std::string log = ::testing::TempDir() + "zavn_reset_plugin.log";
  setenv("ZAVN_PLUGIN_LOG", log.c_str(), 1);
  ZAVNVirtualSelect(1);

  State freshState;
  std::string freshAnswers;
  ASSERT_NO_FATAL_FAILURE(OnItsOwnSystem([&](SteppedSystem& system) {
    ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
    freshState = Snapshot();
    freshAnswers = Probe(system);
  }));
  ASSERT_NO_FATAL_FAILURE(OnItsOwnSystem(Busy));
  ASSERT_NE(Snapshot(), freshState);

  OnItsOwnSystem([&](SteppedSystem& system) {
    ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
    EXPECT_EQ(Snapshot(), freshState);
    EXPECT_EQ(Probe(system), freshAnswers);
    EXPECT_EQ(commands::GameChannelParam(), 11);  // the host's, kept
  });
  std::remove(log.c_str());
}

}  // namespace
}  // namespace zavn::testing

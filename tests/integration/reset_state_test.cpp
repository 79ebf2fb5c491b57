// The library reset leaves the same state as a fresh load: compared field by field, and by the
// library's answers to the same session run after each. Runs as a process of its own, so that
// its first reset meets the state the library is loaded with.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
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
using State = std::map<std::string, std::string>;

template <typename Words>
std::string Join(const Words& words) {
  std::string text;
  for (const auto& word : words) text += std::to_string(word) + " ";
  return text;
}

std::size_t NonZeroBytes(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t count = 0;
  for (std::size_t i = 0; i < size; ++i) count += bytes[i] != 0;
  return count;
}

// Every piece of state the reset owns, as its owners show it. The host's game parameter and the
// update machines' own progress are not the reset's and are left out.
State Snapshot() {
  State s;
  for (int i = 0; i < 4; ++i) {
    const std::string slot = " " + std::to_string(i + 1);
    const core::LinkTable& links = core::Links();
    s["links" + slot] = Join(std::vector<int>{links.openState[i], links.rxStatus[i],
                                              links.txStatus[i], links.pollEnabled[i]});
    s["known path" + slot] =
        std::to_string(NonZeroBytes(&links.knownPaths[i], sizeof links.knownPaths[i]));
    const core::PlayerAssignment& players = core::Players();
    s["players" + slot] = Join(
        std::vector<int>{players.reportCount[i], players.assignFlag[i], players.playerSlot[i]});
    s["report mode" + slot] = std::to_string(input::SlotReportMode(i));
    s["input buffer" + slot] = std::to_string(
        NonZeroBytes(transport::InputBufferOf(i).data(), transport::InputBufferOf(i).size()));
    s["record" + slot] =
        std::to_string(NonZeroBytes(&input::LibraryStatus(i + 1), sizeof(PlayerStatus)));
    s["bootloader status" + slot] = std::to_string(ZAVNGetBootloaderStatus(i + 1));
    s["grants" + slot] =
        Join(std::vector<int>{ZAVNCheckHarlonCHKAK(i + 1), ZAVNCheckVUKCHKAK(i + 1)});
  }
  s["assign done"] = std::to_string(core::Players().assignDone);
  const core::RunState& run = core::Run();
  s["run"] = Join(std::vector<long>{run.threadRunFlag, run.loopRunFlag, run.resetState});
  s["decode complete"] = std::to_string(input::DecodeComplete());
  std::uint32_t rates[4][4];
  std::uint32_t* rows[4] = {rates[0], rates[1], rates[2], rates[3]};
  ZAVNGetRawdataFPS(0, rows);
  s["rates"] = Join(std::vector<std::uint32_t>(&rates[0][0], &rates[0][0] + 16));
  const commands::PeriodicClock& clock = commands::Periodic();
  s["periodic"] =
      Join(std::vector<std::uint32_t>{clock.joystickLoop, clock.lastTick, clock.nowTick});
  const commands::GameChannelWords channel = commands::ReadGameChannel();
  s["game channel"] =
      Join(std::vector<int>{channel.selectedGame, channel.pendingModes[0], channel.pendingModes[1],
                            channel.pendingModes[2], channel.pendingModes[3], channel.modesTaken});
  std::int32_t modes[4];
  games::ChannelModes(modes);
  s["dispatch"] = Join(std::vector<int>{games::LoadedGame(), modes[0], modes[1], modes[2], modes[3],
                                        games::PluginLoaded() ? 1 : 0});
  s["image checksum"] = std::to_string(ZAVNGetVUKAppCheckSum());
  return s;
}

// The same session after each reset: a long-report receiver connected, polled until it is player
// 1, then fed reports whose extension triples are invalid (they show the held ones) and left
// silent for a while. What the library answers along the way.
std::vector<std::string> Probe(SteppedSystem& system) {
  std::vector<std::string> seen;
  const std::int32_t id = ZAVNVirtualPlug(0xFFFF, 0x0008, 64, 33, "NOLTADongle");
  ZAVNConnectRx();
  // The thread's first cycle runs as it starts: polling goes on only once it has parked.
  system.Step();
  ZAVNRoutineFunc();
  std::array<std::uint8_t, 64> report{};
  auto status = std::make_unique<PlayerStatus>();
  for (int cycle = 0; cycle < 160; ++cycle) {
    if (cycle < 120) {
      PutMotion(report.data(), {static_cast<std::uint16_t>(cycle), 1, 2, 3, 4, 5});
      PutExtension(report.data(), {9, 9, 9}, false);
      ZAVNVirtualQueueInput(id, report.data(), 64);
    }
    system.Advance(10);
    if (!system.Step()) {
      seen.push_back("thread ended");
      break;
    }
    seen.push_back(std::to_string(ZAVNGetRxStatus(1)) + " " + std::to_string(ZAVNGetTxStatus(1)));
  }
  ZAVNGetStatus(1, status.get());
  seen.push_back("record bytes " +
                 std::to_string(NonZeroBytes(status.get(), sizeof(PlayerStatus))));
  seen.push_back("extension " + Join(std::vector<int>(status->Extension, status->Extension + 3)));
  seen.push_back("motion count " + std::to_string(status->MotionCount));
  for (const Bytes& sent : TakeAllOutput(id)) seen.push_back("sent " + Join(sent));
  uint32_t rates[4];
  std::uint32_t* rows[4] = {rates, nullptr, nullptr, nullptr};
  ZAVNGetRawdataFPS(0, rows);
  seen.push_back("rates " + Join(std::vector<std::uint32_t>(rates, rates + 4)));
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

TEST(ResetState, AResetLeavesWhatAFreshLoadHas) {
  const std::string log = ::testing::TempDir() + "zavn_reset_plugin.log";
  setenv("ZAVN_PLUGIN_LOG", log.c_str(), 1);
  ZAVNVirtualSelect(1);

  SteppedSystem fresh;
  platform::InstallSystem(&fresh);
  fresh.SetNow(kResetTick);
  ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
  const State freshState = Snapshot();
  const std::vector<std::string> freshAnswers = Probe(fresh);
  platform::InstallSystem(nullptr);

  SteppedSystem busy;
  platform::InstallSystem(&busy);
  busy.SetNow(kResetTick);
  Busy(busy);
  platform::InstallSystem(nullptr);
  ASSERT_NE(Snapshot(), freshState);

  SteppedSystem again;
  platform::InstallSystem(&again);
  again.SetNow(kResetTick);
  ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_EQ(Snapshot(), freshState);
  const std::vector<std::string> answers = Probe(again);
  EXPECT_EQ(answers.size(), freshAnswers.size());
  for (std::size_t k = 0; k < std::min(answers.size(), freshAnswers.size()); ++k) {
    EXPECT_EQ(answers[k], freshAnswers[k]) << "answer " << k;
  }
  EXPECT_EQ(commands::GameChannelParam(), 11);  // the host's, kept
  platform::InstallSystem(nullptr);
  std::remove(log.c_str());
}

}  // namespace
}  // namespace zavn::testing

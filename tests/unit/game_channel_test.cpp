// The game-channel hand-over between the host's calls and the plug-in dispatch.
#include <gtest/gtest.h>

#include "commands/game_channel.h"
#include "zavn/zavn.h"

namespace zavn::testing {
namespace {

using Modes = std::array<std::int32_t, 4>;

Modes Pending() {
  const commands::GameChannelWords words = commands::ReadGameChannel();
  return {words.pendingModes[0], words.pendingModes[1], words.pendingModes[2],
          words.pendingModes[3]};
}

class GameChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { commands::ResetGameChannel(); }
  void TearDown() override { commands::ResetGameChannel(); }
};

TEST_F(GameChannelTest, APendingSetIsKeptUntilTheDispatchTakesIt) {
  const std::int32_t first[4] = {1, 0, 1, 0};
  const std::int32_t second[4] = {0, 0, 0, 0};
  ZAVNSelectGameChannel(3, first, 7);
  EXPECT_EQ(Pending(), (Modes{1, 0, 1, 0}));
  EXPECT_EQ(commands::ReadGameChannel().modesTaken, 0);

  ZAVNSelectGameChannel(4, second, 9);
  EXPECT_EQ(Pending(), (Modes{1, 0, 1, 0}));

  std::int32_t taken[4] = {5, 5, 5, 5};
  ASSERT_TRUE(commands::TakePendingChannelModes(taken));
  EXPECT_EQ((Modes{taken[0], taken[1], taken[2], taken[3]}), (Modes{1, 0, 1, 0}));
  EXPECT_EQ(commands::ReadGameChannel().modesTaken, 1);
  taken[0] = 5;
  EXPECT_FALSE(commands::TakePendingChannelModes(taken));
  EXPECT_EQ(taken[0], 5);  // nothing new: the dispatch keeps what it took

  // Taken: the next selection's set becomes the pending one.
  ZAVNSelectGameChannel(4, second, 9);
  EXPECT_EQ(Pending(), (Modes{0, 0, 0, 0}));
  EXPECT_TRUE(commands::TakePendingChannelModes(taken));
}

TEST_F(GameChannelTest, ClearAndResetLeaveWhatTheyDoNotOwn) {
  const std::int32_t modes[4] = {1, 2, 3, 4};
  ZAVNSelectGameChannel(2, modes, 8);
  ZAVNClearGameChannel();
  EXPECT_EQ(commands::SelectedGame(), 0);
  EXPECT_EQ(commands::GameChannelParam(), 8);
  EXPECT_EQ(Pending(), (Modes{1, 2, 3, 4}));
  EXPECT_EQ(commands::ReadGameChannel().modesTaken, 0);

  ZAVNSelectGameChannel(6, nullptr, 1);  // no modes: the hand-over is left as it is
  EXPECT_EQ(commands::SelectedGame(), 6);
  EXPECT_EQ(Pending(), (Modes{1, 2, 3, 4}));

  ZAVNReset();
  const commands::GameChannelWords words = commands::ReadGameChannel();
  EXPECT_EQ(words.selectedGame, 0);
  EXPECT_EQ(words.parameter, 1);  // the host's parameter survives the reset
  EXPECT_EQ(Pending(), (Modes{0, 0, 0, 0}));
  EXPECT_EQ(words.modesTaken, 1);
}

}  // namespace
}  // namespace zavn::testing

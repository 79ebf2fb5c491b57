// The game-channel hand-over between the host's calls and the plug-in dispatch.
#include <gtest/gtest.h>

#include "commands/game_channel.h"
#include "zavn/zavn.h"

namespace zavn::testing {
namespace {

using Modes = std::array<std::int32_t, 4>;

Modes Pending() {
  return std::to_array(commands::ReadGameChannel().pendingModes);
}

TEST(GameChannel, APendingSetIsKeptUntilTheDispatchTakesIt) {
  commands::ResetGameChannel();
  const std::int32_t first[4] = {1, 0, 1, 0};
  const std::int32_t second[4] = {0, 2, 0, 0};
  ZAVNSelectGameChannel(3, first, 7);
  ZAVNSelectGameChannel(4, second, 9);
  ZAVNClearGameChannel();
  ZAVNSelectGameChannel(6, nullptr, 1);  // no modes: the hand-over is left as it is
  EXPECT_EQ(Pending(), (Modes{1, 0, 1, 0}));

  std::int32_t taken[4] = {5, 5, 5, 5};
  ASSERT_TRUE(commands::TakePendingChannelModes(taken));
  EXPECT_EQ(std::to_array(taken), (Modes{1, 0, 1, 0}));
  taken[0] = 5;
  EXPECT_FALSE(commands::TakePendingChannelModes(taken));
  EXPECT_EQ(taken[0], 5);  // nothing new: the dispatch keeps what it took

  ZAVNSelectGameChannel(4, second, 9);  // taken: the next set becomes the pending one
  EXPECT_EQ(Pending(), (Modes{0, 2, 0, 0}));
  commands::ResetGameChannel();
}

}  // namespace
}  // namespace zavn::testing

// Player numbers from the order in which receivers deliver good reads.
#include <gtest/gtest.h>

#include "core/player_assignment.h"
#include "zavn/zavn.h"

namespace zavn::core {
namespace {

// What a poll pass does for one slot.
void Pass(std::int32_t slotNumber, std::int32_t txStatus) {
  PlayerAssignment& players = Players();
  if (players.assignDone == 0) players.assignDone = AssignPlayers(slotNumber, txStatus);
  AssignNextPlayer(slotNumber, txStatus);
}

TEST(PlayerAssignment, EightiethGoodReadMakesPlayerOneAndTheOthersFollowTheirNextGoodRead) {
  ResetPlayerAssignment();
  for (int k = 1; k < kReadsToAssign; ++k) {
    Pass(3, LINK_OK);
    Pass(2, LINK_TIMEOUT);  // only good reads count
  }
  ASSERT_EQ(Players().assignDone, 0);
  Pass(3, LINK_OK);
  EXPECT_EQ(Players().playerSlot[0], 3);
  Pass(4, LINK_READ_ERROR);
  Pass(2, LINK_OK);
  Pass(4, LINK_OK);
  Pass(4, LINK_OK);
  EXPECT_EQ(Players().playerSlot[1], 2);
  EXPECT_EQ(Players().playerSlot[2], 4);
  EXPECT_EQ(Players().playerSlot[3], 0);  // a slot takes one number only
  ResetPlayerAssignment();
}

}  // namespace
}  // namespace zavn::core

// Player numbers from the order in which receivers deliver good reads.
#include <gtest/gtest.h>

#include "core/player_assignment.h"
#include "zavn/zavn.h"

namespace zavn::core {
namespace {

class PlayerAssignmentTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlayerAssignment(); }
  void TearDown() override { ResetPlayerAssignment(); }

  // What a poll pass does for one slot.
  static void Pass(std::int32_t slotNumber, std::int32_t txStatus) {
    PlayerAssignment& players = Players();
    if (players.assignDone == 0) players.assignDone = AssignPlayers(slotNumber, txStatus);
    AssignNextPlayer(slotNumber, txStatus);
  }
};

TEST_F(PlayerAssignmentTest, EightiethGoodReadMakesPlayerOne) {
  for (int k = 1; k < kReadsToAssign; ++k) {
    Pass(3, LINK_OK);
    Pass(3, LINK_TIMEOUT);  // only good reads count
    ASSERT_EQ(Players().assignDone, 0) << k;
  }
  Pass(3, LINK_OK);
  EXPECT_EQ(Players().assignDone, 1);
  EXPECT_EQ(Players().playerSlot[0], 3);
  EXPECT_EQ(Players().playerSlot[1], 0);
}

TEST_F(PlayerAssignmentTest, OtherReceiversFollowInTheOrderOfTheirNextGoodRead) {
  for (int k = 0; k < kReadsToAssign; ++k) {
    Pass(2, LINK_OK);
    Pass(1, LINK_OK);
  }
  EXPECT_EQ(Players().playerSlot[0], 2);
  EXPECT_EQ(Players().playerSlot[1], 1);

  Pass(4, LINK_READ_ERROR);
  Pass(1, LINK_OK);
  EXPECT_EQ(Players().playerSlot[2], 0);
  Pass(4, LINK_OK);
  EXPECT_EQ(Players().playerSlot[2], 4);
  Pass(4, LINK_OK);
  EXPECT_EQ(Players().playerSlot[3], 0);  // a slot takes one number only
}

}  // namespace
}  // namespace zavn::core

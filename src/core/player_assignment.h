// Player numbers: the first receiver that delivers 80 good reads becomes player 1, the others
// players 2 to 4 in the order of their next good read.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/hid_device.h"

namespace zavn::core {

inline constexpr std::int32_t kReadsToAssign = 80;

struct PlayerAssignment {
  std::atomic<std::int32_t> reportCount[transport::kSlotCount]{};  // good reads before assignment
  std::atomic<std::int32_t> assignFlag[transport::kSlotCount]{};
  std::atomic<std::int32_t> playerSlot[transport::kSlotCount]{};  // slot number 1..4 of player p+1
  std::atomic<std::int32_t> assignDone{0};                        // player 1 has been chosen
};

PlayerAssignment& Players();

// Counts a read of slot s (1..4) with the given result while no player is assigned; returns the
// new value of assignDone.
std::int32_t AssignPlayers(std::int32_t slotNumber, std::int32_t txStatus);

// Once player 1 is chosen: a slot with a good read and no player number takes the next free one.
void AssignNextPlayer(std::int32_t slotNumber, std::int32_t txStatus);

void ResetPlayerAssignment();

}  // namespace zavn::core

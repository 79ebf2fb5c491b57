#include "core/player_assignment.h"

#include "zavn/zavn.h"

namespace zavn::core {
namespace {
PlayerAssignment g_players;
}

PlayerAssignment& Players() {
  return g_players;
}

std::int32_t AssignPlayers(std::int32_t slotNumber, std::int32_t txStatus) {
  if (txStatus == LINK_OK) ++g_players.reportCount[slotNumber - 1];
  for (int j = 0; j < transport::kSlotCount; ++j) {
    if (g_players.reportCount[j] >= kReadsToAssign) g_players.assignFlag[j] = 1;
  }
  // When several slots are flagged, the highest-numbered one ends up as player 1.
  for (int j = 0; j < transport::kSlotCount; ++j) {
    if (g_players.assignFlag[j] == 1) {
      g_players.playerSlot[0] = j + 1;
      g_players.assignDone = 1;
    }
  }
  return g_players.assignDone;
}

void AssignNextPlayer(std::int32_t slotNumber, std::int32_t txStatus) {
  if (g_players.assignDone != 1 || txStatus != LINK_OK) return;
  for (const auto& slot : g_players.playerSlot) {
    if (slot == slotNumber) return;
  }
  for (auto& slot : g_players.playerSlot) {
    if (slot == 0) {
      slot = slotNumber;
      return;
    }
  }
}

void ResetPlayerAssignment() {
  for (int j = 0; j < transport::kSlotCount; ++j) {
    g_players.reportCount[j] = 0;
    g_players.assignFlag[j] = 0;
    g_players.playerSlot[j] = 0;
  }
  g_players.assignDone = 0;
}

}  // namespace zavn::core

// The host's link-state queries; any player outside 1..4 is answered for player 1.
#include "transport/link_table.h"
#include "zavn/zavn.h"

namespace {
int SlotOf(int32_t playerIndex) {
  return playerIndex >= 1 && playerIndex <= zavn::transport::kSlotCount ? playerIndex - 1 : 0;
}
}  // namespace

extern "C" {

ZAVN_API int32_t ZAVN_CALL ZAVNGetRxStatus(int32_t playerIndex) {
  return zavn::transport::Links().rxStatus[SlotOf(playerIndex)];
}

ZAVN_API int32_t ZAVN_CALL ZAVNGetTxStatus(int32_t playerIndex) {
  return zavn::transport::Links().txStatus[SlotOf(playerIndex)];
}

}  // extern "C"

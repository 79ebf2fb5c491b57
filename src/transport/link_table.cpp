#include "transport/link_table.h"

namespace zavn::transport {
namespace {
LinkTable g_links;
}

LinkTable& Links() {
  return g_links;
}

bool AnySlotConnected() {
  for (const auto& state : g_links.openState) {
    if (state == LINK_OK) return true;
  }
  return false;
}

void DropLink(int i) {
  Slot(i).Close();
  g_links.rxStatus[i] = LINK_NO_DEVICE;
  g_links.txStatus[i] = LINK_NO_DEVICE;
  g_links.pollEnabled[i] = 0;
  g_links.openState[i] = LINK_NO_DEVICE;
  g_links.knownPaths[i] = {};
}

void ResetLinks() {
  for (int i = 0; i < kSlotCount; ++i) {
    g_links.openState[i] = 0;
    g_links.rxStatus[i] = LINK_NO_DEVICE;
    g_links.txStatus[i] = LINK_NO_DEVICE;
    g_links.pollEnabled[i] = 0;
  }
  g_links.knownPaths = {};
}

}  // namespace zavn::transport

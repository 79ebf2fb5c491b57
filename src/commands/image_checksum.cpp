#include "commands/image_checksum.h"

namespace zavn::commands {
namespace {
std::atomic<std::uint32_t> g_vukChecksum{0};
}

std::atomic<std::uint32_t>& VUKChecksum() {
  return g_vukChecksum;
}

void ResetImageChecksum() {
  g_vukChecksum = 0;
}

}  // namespace zavn::commands

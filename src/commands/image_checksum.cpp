#include "commands/image_checksum.h"

namespace zavn::commands {
namespace {
std::atomic<std::uint32_t> g_vukChecksum{0};
std::atomic<std::uint32_t> g_sentChecksum{0};
}  // namespace

std::atomic<std::uint32_t>& VUKChecksum() {
  return g_vukChecksum;
}

std::atomic<std::uint32_t>& SentChecksum() {
  return g_sentChecksum;
}

void ResetImageChecksum() {
  g_vukChecksum = 0;
  g_sentChecksum = 0;
}

}  // namespace zavn::commands

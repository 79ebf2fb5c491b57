#include "transport/product_string.h"

#include <cstring>

#include "transport/hid_device.h"
#include "zavn/zavn.h"

static_assert(ZAVN_PRODUCT_STRING_BYTES == zavn::transport::kProductStringBytes);

namespace zavn::transport {
namespace {

struct ProductStringBuffers {
  unsigned char wide[kProductStringBytes];
  char narrow[kProductStringBytes];
};

// One pair per player; only the update machine classifies, on the poll thread.
ProductStringBuffers g_buffers[kSlotCount];

struct KnownProduct {
  const char* letters;
  ProductKind kind;
};
constexpr KnownProduct kKnownProducts[] = {
    {"NOLTADongle", PRODUCT_DONGLE},
    {"nRFUSBDongle", PRODUCT_NRF_DONGLE},
    {"NOLTABootloader", PRODUCT_BOOTLOADER},
    {"NOLTAZ", PRODUCT_Z},
};

bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsPlayer(std::int32_t playerIndex) {
  return playerIndex >= 1 && playerIndex <= kSlotCount;
}

}  // namespace

ProductKind ClassifyProductString(std::int32_t playerIndex) {
  if (!IsPlayer(playerIndex)) return PRODUCT_OTHER;
  ProductStringBuffers& buffers = g_buffers[playerIndex - 1];
  std::memset(&buffers, 0, sizeof buffers);
  if (ZAVNGetProductString(playerIndex, buffers.wide) == 1) {
    std::size_t length = 0;
    for (unsigned char byte : buffers.wide) {
      if (IsAsciiLetter(byte) && length + 1 < sizeof buffers.narrow) {
        buffers.narrow[length++] = static_cast<char>(byte);
      }
    }
    buffers.narrow[length] = '\0';
  }
  for (const KnownProduct& known : kKnownProducts) {
    if (std::strcmp(buffers.narrow, known.letters) == 0) return known.kind;
  }
  return PRODUCT_OTHER;
}

void ResetProductStringBuffers() {
  std::memset(g_buffers, 0, sizeof g_buffers);
}

}  // namespace zavn::transport

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNGetProductString(int32_t playerIndex, void* buffer) {
  using namespace zavn::transport;
  if (!IsPlayer(playerIndex) || buffer == nullptr) return 0;
  return Slot(playerIndex - 1).ProductString(buffer, kProductStringBytes) ? 1 : 0;
}

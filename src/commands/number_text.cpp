// ZAVNITOA: an integer as text, as the C runtime's _itoa writes it.
#include "zavn/zavn_commands.h"

namespace {
constexpr int32_t kMinRadix = 2;
constexpr int32_t kMaxRadix = 36;
constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
}  // namespace

extern "C" ZAVN_API char* ZAVN_CALL ZAVNITOA(int32_t value, char* buffer, int32_t radix) {
  if (buffer == nullptr) return nullptr;
  char* out = buffer;
  if (radix < kMinRadix || radix > kMaxRadix) {
    *out = '\0';
    return buffer;
  }
  // Radix 10 is signed; every other radix shows the 32-bit pattern as unsigned.
  auto magnitude = static_cast<uint32_t>(value);
  if (radix == 10 && value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  char reversed[32];
  int count = 0;
  do {
    reversed[count++] = kDigits[magnitude % static_cast<uint32_t>(radix)];
    magnitude /= static_cast<uint32_t>(radix);
  } while (magnitude != 0);
  while (count > 0) *out++ = reversed[--count];
  *out = '\0';
  return buffer;
}

// ClassifyProductString on arbitrary product strings, by two ways in:
//   - the input up to its first NUL as the product of a virtual interface (at most 126
//     characters), which the virtual receiver hands over in UTF-16LE;
//   - the input's raw bytes as the buffer the driver fills, through a scripted port in slot 2,
//     so that the high bytes of UTF-16 characters are arbitrary too.
// The C string is an exactly-sized heap copy, so a read past it is reported. Checked: the kind
// is that of the string's ASCII letters, every other byte dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/hid_port.h"
#include "support/scripted_port.h"
#include "transport/product_string.h"

namespace {

namespace platform = zavn::platform;
namespace transport = zavn::transport;
using zavn::fuzz::Require;

constexpr std::int32_t kVirtualPlayer = 1;
constexpr std::int32_t kRawPlayer = 2;
constexpr platform::HidHandle kRawHandle = 1;

zavn::testing::ScriptedPort g_rawPort;
zavn::fuzz::SlotIds g_ids;

bool IsAsciiLetter(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Letters(const std::uint8_t* bytes, std::size_t size) {
  std::string letters;
  for (std::size_t k = 0; k < size; ++k) {
    if (IsAsciiLetter(bytes[k])) letters += static_cast<char>(bytes[k]);
  }
  return letters;
}

transport::ProductKind KindOf(std::string_view letters) {
  if (letters == "NOLTADongle") return transport::PRODUCT_DONGLE;
  if (letters == "nRFUSBDongle") return transport::PRODUCT_NRF_DONGLE;
  if (letters == "NOLTABootloader") return transport::PRODUCT_BOOTLOADER;
  if (letters == "NOLTAZ") return transport::PRODUCT_Z;
  return transport::PRODUCT_OTHER;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_ids = zavn::fuzz::OpenVirtualSlots();
  g_rawPort.Add({platform::PathResult::kFound, "raw", {}, {32, 32, 0}, kRawHandle});
  transport::Slot(kRawPlayer - 1).Close();
  transport::Slot(kRawPlayer - 1).Take(g_rawPort, kRawHandle, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A C string of exactly the input's length: the input, then the terminating NUL.
  const auto product = zavn::fuzz::ExactCopy(data, size, size + 1);
  const char* text = reinterpret_cast<const char*>(product.get());
  if (ZAVNVirtualSetProduct(g_ids[kVirtualPlayer - 1], text) == 1) {
    const transport::ProductKind kind = transport::ClassifyProductString(kVirtualPlayer);
    Require(kind == KindOf(Letters(product.get(), std::strlen(text))),
            "a virtual product is classified by its letters");
  }

  g_rawPort.product.assign(data, data + size);
  const std::size_t seen =
      size < transport::kProductStringBytes ? size : transport::kProductStringBytes;
  Require(transport::ClassifyProductString(kRawPlayer) == KindOf(Letters(data, seen)),
          "a driver's string is classified by its letters");
  return 0;
}

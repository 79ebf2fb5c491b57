// ClassifyProductString on arbitrary product strings, by two ways in:
//   - the input up to its first NUL as the product of a virtual interface (at most 126
//     characters), which the virtual receiver hands over in UTF-16LE;
//   - the input's raw bytes as the buffer the driver fills, through a port of this target's own
//     in slot 2, so that the high bytes of UTF-16 characters are arbitrary too.
// Both strings are exactly-sized heap copies, so a read past them is reported. Checked: the
// kind is that of the string's ASCII letters, every other byte dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/hid_port.h"
#include "transport/product_string.h"

namespace {

namespace platform = zavn::platform;
namespace transport = zavn::transport;
using zavn::fuzz::Require;

constexpr std::int32_t kVirtualPlayer = 1;
constexpr std::int32_t kRawPlayer = 2;
constexpr platform::HidHandle kRawHandle = 1;
constexpr std::uint16_t kReportLength = 32;

// Hands the current input over as the product string buffer, as much as the caller asks for.
class RawProductPort final : public platform::HidPort {
 public:
  void Set(const std::uint8_t* bytes, std::size_t size) {
    bytes_ = bytes;
    size_ = size;
  }

  platform::PathResult InterfacePath(std::uint32_t, char (&)[platform::kDevicePathSize]) override {
    return platform::PathResult::kEnd;
  }
  platform::HidHandle Open(const char*) override { return platform::kInvalidHidHandle; }
  void Close(platform::HidHandle) override {}
  bool Attributes(platform::HidHandle, platform::HidAttributes&) override { return false; }
  bool Capabilities(platform::HidHandle, platform::HidCaps& out) override {
    out = {kReportLength, kReportLength, 0};
    return true;
  }
  bool NumInputBuffers(platform::HidHandle, std::uint32_t&) override { return false; }
  bool ProductString(platform::HidHandle, void* buffer, std::uint32_t bytes) override {
    if (size_ > 0) std::memcpy(buffer, bytes_, size_ < bytes ? size_ : bytes);
    return true;
  }
  platform::ReadOutcome Read(platform::HidHandle, std::uint8_t*, std::uint32_t) override {
    return {platform::ReadOutcome::kNothingYet, 0};
  }
  platform::WriteOutcome SetOutputReport(platform::HidHandle, const std::uint8_t*,
                                         std::uint32_t) override {
    return {true, 0};
  }

 private:
  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
};

RawProductPort g_rawPort;
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

  const auto raw = zavn::fuzz::ExactCopy(data, size, size);
  g_rawPort.Set(raw.get(), size);
  const std::size_t seen =
      size < transport::kProductStringBytes ? size : transport::kProductStringBytes;
  Require(transport::ClassifyProductString(kRawPlayer) == KindOf(Letters(raw.get(), seen)),
          "a driver's string is classified by its letters");
  g_rawPort.Set(nullptr, 0);
  return 0;
}

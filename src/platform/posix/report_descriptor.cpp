#include "platform/posix/report_descriptor.h"

#include <algorithm>

namespace zavn::platform::hid {
namespace {

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
constexpr std::uint8_t kLongItemPrefix = 0xFE;

// Main item tags that define report fields, by kind.
constexpr std::uint8_t kInputTag = 0x8, kOutputTag = 0x9, kFeatureTag = 0xB;
// Global item tags.
constexpr std::uint8_t kReportSizeTag = 0x7, kReportIdTag = 0x8, kReportCountTag = 0x9;
constexpr std::uint8_t kPushTag = 0xA, kPopTag = 0xB;

constexpr int kKinds = 3;
constexpr int kReportIds = 256;
constexpr int kStackDepth = 16;
// Field bits beyond this make no sense for a report of at most 65535 bytes.
constexpr std::uint64_t kMaxBits = 8ull * 65535;

struct Globals {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;
};

std::uint32_t Data(const std::uint8_t* at, std::size_t bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value |= std::uint32_t{at[i]} << (8 * i);
  return value;
}

std::uint16_t BytesOf(std::uint64_t bits, bool numbered) {
  if (bits == 0) return 0;
  const std::uint64_t bytes = (bits + 7) / 8 + (numbered ? 1 : 0);
  return static_cast<std::uint16_t>(std::min<std::uint64_t>(bytes, 65535));
}

}  // namespace

ReportLengths ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size) {
  static_assert(kKinds * kReportIds * sizeof(std::uint64_t) < 8192, "fits the stack");
  std::uint64_t bits[kKinds][kReportIds] = {};
  Globals globals;
  Globals stack[kStackDepth];
  int depth = 0;
  ReportLengths lengths;

  std::size_t at = 0;
  while (descriptor != nullptr && at < size) {
    const std::uint8_t prefix = descriptor[at];
    if (prefix == kLongItemPrefix) {  // long items carry no report fields: skip them
      if (at + 2 >= size) break;
      at += 3 + std::size_t{descriptor[at + 1]};
      continue;
    }
    static constexpr std::size_t kDataBytes[4] = {0, 1, 2, 4};
    const std::size_t dataBytes = kDataBytes[prefix & 0x3];
    if (at + 1 + dataBytes > size) break;
    const std::uint32_t data = Data(descriptor + at + 1, dataBytes);
    const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    at += 1 + dataBytes;

    if (type == kGlobal) {
      if (tag == kReportSizeTag) globals.reportSize = data;
      if (tag == kReportCountTag) globals.reportCount = data;
      if (tag == kReportIdTag) {
        globals.reportId = data & 0xFF;
        lengths.numbered = true;
      }
      if (tag == kPushTag && depth < kStackDepth) stack[depth++] = globals;
      if (tag == kPopTag && depth > 0) globals = stack[--depth];
    } else if (type == kMain) {
      const int kind = tag == kInputTag ? 0 : tag == kOutputTag ? 1 : tag == kFeatureTag ? 2 : -1;
      if (kind >= 0) {
        std::uint64_t& total = bits[kind][globals.reportId];
        total = std::min(kMaxBits, total + std::uint64_t{globals.reportSize} * globals.reportCount);
      }
    }
  }

  std::uint64_t largest[kKinds] = {};
  for (int kind = 0; kind < kKinds; ++kind) {
    for (int id = 0; id < kReportIds; ++id) largest[kind] = std::max(largest[kind], bits[kind][id]);
  }
  lengths.input = BytesOf(largest[0], lengths.numbered);
  lengths.output = BytesOf(largest[1], lengths.numbered);
  lengths.feature = BytesOf(largest[2], lengths.numbered);
  return lengths;
}

}  // namespace zavn::platform::hid

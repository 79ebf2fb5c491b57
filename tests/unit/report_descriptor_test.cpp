// Report lengths from real-world descriptors, and descriptors that end where they should not.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/posix/report_descriptor.h"
#include "support/descriptors.h"

namespace zavn::testing {
namespace {

using platform::hid::ParseReportDescriptor;
using platform::hid::ReportLengths;

ReportLengths Parse(const std::vector<std::uint8_t>& d) {
  return ParseReportDescriptor(d.data(), d.size());
}

TEST(ReportDescriptor, RealDevicesGiveTheLengthsWindowsReports) {
  const ReportLengths k = Parse(descriptors::kKeyboard), g = Parse(descriptors::kGamepad);
  EXPECT_EQ(std::tie(k.input, k.output, k.numbered), std::tuple(8, 1, false));
  // Numbered reports: the largest of each kind, plus the report ID byte; Pop restores the
  // 8-bit size and count after the feature report.
  EXPECT_EQ(std::tie(g.input, g.output, g.feature, g.numbered), std::tuple(7, 5, 3, true));
  EXPECT_EQ(Parse(descriptors::kReceiver).output, 33);
}

TEST(ReportDescriptor, BrokenDescriptorsCountUpToWhereTheyBreak) {
  std::vector<std::uint8_t> cut = descriptors::kReceiver;
  cut.resize(14);  // ends inside a 2-byte item, before the input
  EXPECT_EQ(Parse(cut).input, 0);
  // A long item that claims more bytes than are left is skipped whole.
  EXPECT_EQ(Parse({0xFE, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}).input, 0);

  // Pop without Push, Push deeper than the stack, huge sizes: no harm, bounded lengths.
  std::vector<std::uint8_t> odd = {0xB4, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02};
  odd.insert(odd.end(), 40, 0xA4);
  odd.insert(odd.end(), {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02});
  EXPECT_EQ(Parse(odd).input, 65535);
  EXPECT_EQ(ParseReportDescriptor(nullptr, 10).input, 0);
}

}  // namespace
}  // namespace zavn::testing

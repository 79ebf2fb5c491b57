// The decoder on hand-built buffers, rule by rule.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "input/decoder.h"
#include "input/rate_meter.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

using input::Decode;
using input::LibraryStatus;

class DecoderTest : public LibraryTest {
 protected:
  transport::InputBuffer buffer_{};
  PlayerStatus& p1_ = LibraryStatus(1);
};

TEST_F(DecoderTest, MotionRecordsFillValuesButtonsAndRawRecord) {
  std::uint8_t* r = buffer_.data();
  PutMotion(r, {0x0102, 0x0304, 0x0506, 0x0708, 0x090A, 0x0B0C});
  const std::uint8_t area[] = {0x11, 0xC0, 0x02, 0x81, 0x21, 0x22, 0x23, 0x24, 0x31, 0x32};
  std::memcpy(r + 22, area, sizeof area);  // L+19..L+28
  r[32] = 0x41;                            // L+29 is the next report's first byte
  transport::InputBuffer copy = buffer_;
  Decode(buffer_, 1);

  EXPECT_EQ(std::vector<int>(p1_.Motion, p1_.Motion + 6),
            (std::vector<int>{0x0102, 0x0304, 0x0506, 0x0B0C, 0x090A, 0x0708}));
  const std::uint8_t bytes[12] = {0x81, 0x02, 0xC0, 0x11, 0x24, 0x23,
                                  0x22, 0x21, 0x31, 0x32, 0x41, 0};
  EXPECT_EQ(std::memcmp(p1_.ButtonBytes, bytes, 12), 0);
  std::uint8_t buttons[ZAVN_BUTTON_COUNT] = {};
  buttons[0] = buttons[7] = buttons[9] = buttons[22] = 1;  // bit 7 of L+20 is not a button
  EXPECT_EQ(std::memcmp(p1_.Buttons, buttons, sizeof buttons), 0);
  const std::uint8_t header[3] = {0x02, 0x31, 0x03};
  EXPECT_EQ(std::memcmp(p1_.RawRecord, header, 3), 0);
  EXPECT_EQ(std::memcmp(p1_.RawRecord + 3, copy.data() + 3, 61), 0);
  EXPECT_EQ(std::accumulate(buffer_.begin(), buffer_.end(), 0), 0);  // cleared
  buffer_.back() = 0x7F;  // so is a buffer that is zero but for its last byte
  Decode(buffer_, 1);
  EXPECT_EQ(buffer_.back(), 0);
  EXPECT_EQ(input::DecodeComplete(), 1);
  EXPECT_EQ(p1_.RecordCount, 1);
}

// Only the letter at each report's letter position counts: a backlog of reports whose values
// are letters decodes whole.
TEST_F(DecoderTest, OnlyLettersAtReportPositionsCountTowardsTheBound) {
  for (const int stride : {32, 64}) {
    const int reports = stride == 32 ? 100 : 64;
    for (int k = 0; k < reports; ++k) {
      const auto v = static_cast<std::uint16_t>(k % 2 == 0 ? 0x4141 : 0x5256 + k);
      PutMotion(&buffer_[stride * k], {static_cast<std::uint16_t>(k), v, 0x4242, v, 0x4456, v});
      std::memset(&buffer_[stride * k + 16], 'A', static_cast<std::size_t>(stride - 16));
      if (stride == 64) PutExtension(&buffer_[stride * k], {0x4141, 0x4242, 0x4156}, true);
    }
    Decode(buffer_, 1);
    ASSERT_EQ(p1_.MotionCount, reports) << stride;
    for (int k = 0; k < reports; ++k) ASSERT_EQ(p1_.MotionHistory[0][k], k) << stride;
    p1_ = {};
  }
  // Not reports: a letter at every report position (one fewer is walked), or 'A' everywhere.
  for (const int letters : {127, 128}) {
    for (int k = 0; k < letters; ++k) buffer_[32 * k + 3] = "ARDV"[k % 4];
    Decode(buffer_, 1);
    EXPECT_EQ(p1_.MotionCount, letters == 127 ? 32 : 0);
    p1_ = {};
  }
  std::memset(buffer_.data(), 'A', buffer_.size());
  Decode(buffer_, 1);
  EXPECT_EQ(p1_.MotionCount, 0);
}

TEST_F(DecoderTest, RecordsAreTakenOnlyAtTheExpectedPosition) {
  PutMotion(&buffer_[0], {1, 0, 0, 0, 0, 0});
  PutMotion(&buffer_[32], {2, 0, 0, 0, 0, 0});
  PutMotion(&buffer_[72], {3, 0, 0, 0, 0, 0});  // 40 bytes on: off the stride
  Decode(buffer_, 1);
  EXPECT_EQ(p1_.MotionCount, 2);

  // Answers lead a read in any order; each is taken, and the motion records behind them too.
  const std::vector<std::uint8_t> version = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2}, serial(16, 'S');
  std::vector<std::uint8_t> account(27, 0xD2);
  account[0] = '2';
  account[26] = 0;
  std::pair<std::uint8_t, std::vector<std::uint8_t>> answers[] = {
      {'D', account}, {'R', serial}, {'V', version}};  // sorted, for the permutations
  do {
    LibraryStatus(1) = {};
    SCOPED_TRACE(::testing::Message() << answers[0].first << answers[1].first << answers[2].first);
    for (int k = 0; k < 3; ++k) {
      const auto& [letter, payload] = answers[k];
      PutReply(&buffer_[32 * k], letter, payload.data(), payload.size());
    }
    PutMotion(&buffer_[96], {5, 0, 0, 0, 0, 0});
    PutMotion(&buffer_[128], {6, 0, 0, 0, 0, 0});
    Decode(buffer_, 1);
    EXPECT_EQ(std::memcmp(p1_.VersionBlock, version.data(), 12), 0);
    EXPECT_EQ(p1_.AccountPages[2][0], 0xD2);
    EXPECT_EQ(std::memcmp(p1_.SerialBlock, serial.data(), 16), 0);
    EXPECT_EQ(p1_.MotionHistory[0][1], 6);
    EXPECT_EQ(p1_.RecordCount, 5);
  } while (std::next_permutation(std::begin(answers), std::end(answers)));
}

TEST_F(DecoderTest, AccountSelectorsAreDigitsOrPageNumbers) {
  const PlayerStatus& p2 = LibraryStatus(2);
  // Selector 0x10 names no page, but the status is taken.
  for (const auto& [selector, page] :
       {std::pair<std::uint8_t, int>{'3', 3}, {0x0F, 15}, {0x10, -1}}) {
    std::uint8_t payload[27];
    payload[0] = payload[26] = selector;
    std::memset(payload + 1, 0xA0 + page, 25);
    PutReply(&buffer_[0], 'D', payload, sizeof payload);
    Decode(buffer_, 2);
    EXPECT_EQ(p2.AccountStatus, selector);
    int filled = -1;
    for (int k = 0; k < ZAVN_ACCOUNT_PAGES; ++k) {
      const std::uint8_t* bytes = p2.AccountPages[k];  // all 25 of its bytes
      if (bytes[0] == payload[1] && bytes[24] == payload[1]) filled = k;
    }
    EXPECT_EQ(filled, page) << "selector " << int{selector};
  }
}

TEST_F(DecoderTest, BootRecordAtByteOneAndOnlyWhereItFitsTheBuffer) {
  const std::uint8_t boot[15] = {'B',  0x95, 0x3B, 0x13, 0x14, 0x15, 0x16, 0x17,
                                 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E};
  auto putBoot = [&](std::size_t at) {  // cut at the end of the buffer
    std::memcpy(&buffer_[at], boot, std::min(sizeof boot, buffer_.size() - at));
  };
  buffer_[0] = 0x02;  // the first report's record, as the receiver sends it
  putBoot(1);
  Decode(buffer_, 1);
  const std::uint8_t expected[12] = {0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                                     0x1D, 0x1E, 0x1B, 0x1C, 0x19, 0x1A};
  EXPECT_EQ(std::memcmp(p1_.BootBlock, expected, 12), 0);
  EXPECT_EQ(p1_.RecordCount, 1);
  // At 14 before the end its last byte would be the one after the buffer.
  for (const auto& [fromEnd, count] : {std::pair{14u, 1}, {15u, 2}}) {
    putBoot(buffer_.size() - fromEnd);
    Decode(buffer_, 1);
    EXPECT_EQ(p1_.RecordCount, count) << "boot record " << fromEnd << " bytes before the end";
  }
}

TEST_F(DecoderTest, LongReportsCarryTheExtensionWithSampleAndHold) {
  PutMotion(&buffer_[0], {1, 0, 0, 0, 0, 0});
  PutExtension(&buffer_[0], {100, 200, 300}, true, 0x05);
  PutMotion(&buffer_[64], {2, 0, 0, 0, 0, 0});
  PutExtension(&buffer_[64], {7, 8, 9}, false, 0x0A);
  Decode(buffer_, 3);
  const PlayerStatus& p3 = LibraryStatus(3);
  EXPECT_EQ(input::SlotReportMode(2), input::kLongReportMode);
  EXPECT_EQ(p3.ExtensionHistory[2][0], 300);
  EXPECT_EQ(p3.ExtensionHistory[2][1], 300);  // held over the invalid one
  const std::uint8_t flags[4] = {0, 1, 0, 1};
  EXPECT_EQ(std::memcmp(p3.ExtensionFlags, flags, 4), 0);
  EXPECT_EQ(p3.ButtonBytes[10], 'J');  // in the long form L+29 is the extension's letter
}

std::atomic<std::int32_t> g_countSeen{-1};
void ZAVN_CALL RecordCountSeen(std::int32_t, PlayerStatus* status) {
  g_countSeen = status->RecordCount;
}

// The history ring wraps at its 1025th sample, the record count after 10000; the callback sees
// the count before its wrap.
TEST_F(DecoderTest, HistoryRingAndRecordCountWrap) {
  p1_.RecordCount = 10000 - ZAVN_HISTORY_LENGTH;
  ZAVNInitGetRawDataCallBack(RecordCountSeen);
  for (int k = 0; k <= ZAVN_HISTORY_LENGTH; ++k) {
    PutMotion(buffer_.data(), {static_cast<std::uint16_t>(k), 0, 0, 0, 0, 0});
    Decode(buffer_, 1);
  }
  EXPECT_EQ(p1_.MotionCount, 1);
  EXPECT_EQ(p1_.MotionHistory[0][0], ZAVN_HISTORY_LENGTH);
  EXPECT_EQ(p1_.MotionHistory[0][1], 1);
  EXPECT_EQ(g_countSeen, 10001);
  EXPECT_EQ(p1_.RecordCount, 0);
}

// Each window of about a second counts its records, primary and secondary, also across the
// wrap of the counters (within the second window at either rate); another player keeps 0.
TEST_F(DecoderTest, RatesCountEachWindowsRecordsAcrossTheCounterWrap) {
  PlayerStatus& p2 = LibraryStatus(2);
  for (const std::uint32_t periodMs : {1u, 10u}) {
    const auto rate = static_cast<std::int32_t>(1000 / periodMs);
    system_.SetNow(0);
    input::ResetRateMeter();
    p2.RecordCount = p2.SecondaryRecordCount = input::kMaxRecordCount - rate * 3 / 2;
    for (std::uint32_t t = 0; t <= 3050; t += periodMs) {
      system_.SetNow(t);
      PutMotion(&buffer_[0], {1, 0, 0, 0, 0, 0});
      PutMotion(&buffer_[32], {2, 0, 0, 0, 0, 0}, '2');  // a secondary record
      Decode(buffer_, 2);
      if (t == 2050 || t == 3050) {
        EXPECT_NEAR(input::RecordRate(2, 0), rate, 2) << rate << "/s at " << t;
        EXPECT_NEAR(input::RecordRate(2, 1), rate, 2) << rate << "/s at " << t;
        EXPECT_EQ(input::RecordRate(1, 0), 0u);
      }
    }
  }
}

}  // namespace
}  // namespace zavn::testing

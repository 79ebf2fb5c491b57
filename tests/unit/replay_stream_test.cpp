// When a replayed capture's reports come due: at their captured times from the first read,
// scaled, looped, as a full queue keeps them, or as fast as read.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/virtual/replay_stream.h"

namespace zavn::platform::virt {
namespace {

constexpr std::uint64_t kStart = 5'000'000;  // the clock when the first read comes
constexpr int kMany = 16;

// One stream of one-byte reports numbered 1, 2, ... at `times`, and a second stream of one
// report at 1500 µs.
std::shared_ptr<ReplaySession> Session(std::vector<std::uint64_t> times, std::int32_t speed,
                                       bool loop) {
  capture::Recording recording;
  recording.streams.resize(2);
  for (std::size_t k = 0; k < times.size(); ++k) {
    recording.streams[0].reports.push_back(static_cast<std::uint8_t>(k + 1));
  }
  recording.streams[0].reportLength = 1;
  recording.streams[0].timesUs = std::move(times);
  recording.streams[1] = {1, {0x77}, {1500}};
  return std::make_shared<ReplaySession>(std::move(recording), speed, loop);
}

// The reports due at `now`, by number.
std::vector<int> Due(ReplayStream& stream, std::uint64_t now, int keep = kMany, int room = 0) {
  std::uint8_t reports[kMany];
  const int count = stream.ProduceDue(now, reports, kMany, keep, room);
  return std::vector<int>(reports, reports + count);
}

TEST(ReplayStream, PlaysTheCapturedTimesScaledFromTheFirstRead) {
  struct Case {
    std::int32_t speed;
    std::uint64_t second, third;  // when reports 2 and 3 come due
  } cases[] = {{100, 1000, 2500}, {200, 500, 1250}, {50, 2000, 5000}, {300, 334, 834}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    ReplayStream stream;
    stream.Start(Session({0, 1000, 2500}, c.speed, false), 0);
    EXPECT_EQ(Due(stream, kStart), std::vector<int>{1});
    EXPECT_EQ(stream.UsUntilNext(kStart), c.second);
    EXPECT_TRUE(Due(stream, kStart + c.second - 1).empty());
    EXPECT_EQ(Due(stream, kStart + c.second), std::vector<int>{2});
    EXPECT_EQ(Due(stream, kStart + c.third), std::vector<int>{3});
    EXPECT_EQ(stream.UsUntilNext(kStart + c.third), ReplayStream::kNever);
    EXPECT_TRUE(Due(stream, kStart + 10 * c.third).empty());
  }
}

TEST(ReplayStream, SharesOneClockKeepsTheNewestAndLoops) {
  const auto session = Session({0, 1000, 2000, 3000}, 100, true);
  ReplayStream first, second;
  first.Start(session, 0);
  second.Start(session, 1);
  EXPECT_TRUE(Due(second, kStart).empty());  // starts the clock for both
  EXPECT_EQ(second.UsUntilNext(kStart + 1000), 500u);
  // A pass lasts the span and one mean gap: 4000 µs. Two passes and a bit, keeping 3.
  EXPECT_EQ(session->PeriodUs(), 4000u);
  EXPECT_EQ(Due(first, kStart + 9000, 3), (std::vector<int>{4, 1, 2}));
  first.SkipDue(kStart + 12'500);
  EXPECT_EQ(Due(first, kStart + 13'000), (std::vector<int>{2}));
  EXPECT_EQ(Due(second, kStart + 13'000, 1), std::vector<int>{0x77});
}

TEST(ReplayStream, AsFastAsReadFillsTheRoomThenEnds) {
  ReplayStream stream;
  stream.Start(Session({0, 10, 20, 30, 40}, 0, false), 0);
  EXPECT_EQ(stream.UsUntilNext(kStart), 0u);
  EXPECT_EQ(Due(stream, kStart, kMany, 2), (std::vector<int>{1, 2}));
  EXPECT_TRUE(Due(stream, kStart, kMany, 0).empty());
  EXPECT_EQ(Due(stream, kStart, kMany, 9), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(stream.UsUntilNext(kStart), ReplayStream::kNever);
}

}  // namespace
}  // namespace zavn::platform::virt

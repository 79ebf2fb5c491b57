// Whole firmware updates, run by the poll thread on the injected clock against the virtual
// receiver while the transmitters stream: what the receiver gets, in order and with its pauses,
// through cut-offs and lost lines, and what the other players get meanwhile.
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>

#include "core/poll_thread.h"
#include "firmware/hex_text.h"
#include "firmware/images.h"
#include "input/status_records.h"
#include "support/output_log.h"
#include "support/sample_recorder.h"
#include "support/scripted_port.h"
#include "support/update_fixture.h"

namespace zavn::testing {
namespace {

using Is = std::function<bool(const Bytes&)>;

// Reports of `size` bytes that begin with `head`.
Is Starts(Bytes head, std::size_t size) {
  return [head, size](const Bytes& r) {
    return r.size() == size && std::equal(head.begin(), head.end(), r.begin());
  };
}
Is Equals(Bytes report) {
  return [report](const Bytes& r) { return r == report; };
}
const Is kSerialQuery = Starts({0x05, 0x03}, 16);
const Is kSerialWrite = Starts({0x05, 0x02}, 18);
const Is kHexLine = Starts({0x10}, 32);
const Is kTableRow = Starts({0x03}, 32);
const Is kBootStep1 = Starts({0x11, 0x65, 0x91}, 16);
const Is kChecksum = Starts({0x11, 0x23, 0xB7}, 16);
const Is kFinish = Starts({0x11, 0xCD, 0x5A}, 16);
const Bytes kErase{0x07, 0x00, 0x00, 0x00, 0x17, 'E', 'R', 'A', 'S'};
const std::string kSerial = "ZAVNTX0000000001";  // the first transmitter's
const Bytes kWriteBack = [] {
  Bytes report{0x05, 0x02};
  report.insert(report.end(), kSerial.begin(), kSerial.end());
  return report;
}();

// Every report of the update, with the time the receiver has to act on it before the next.
struct Step {
  const char* name;
  Is is;
  std::uint32_t pauseMs;
};
const Step kSteps[] = {
    {"serial query", kSerialQuery, 300},
    {"end of the serial read", Starts({0x05, 0x00}, 16), 300},
    {"erase", Equals(kErase), 500},
    {"table row", kTableRow, 1},
    {"boot step 1", kBootStep1, 300},
    {"boot step 2", Starts({0x11, 0x3E, 0xB2}, 16), 300},
    {"HEX line", kHexLine, 1},
    {"checksum", kChecksum, 300},
    {"finish", kFinish, 1000},
    {"serial write-back", kSerialWrite, 300},
    {"end of the write-back", Starts({0x05, 0x00}, 18), 300},
};
const Step* StepOf(const Bytes& report) {
  for (const Step& step : kSteps) {
    if (step.is(report)) return &step;
  }
  return nullptr;  // the periodic reports
}

// One poll-thread cycle at a time, the host reconnecting whenever the receiver drops off. What
// was sent to player 1's receiver is taken after each cycle, with the time it was sent.
class UpdateRunTest : public UpdateReadyTest {
 protected:
  void SetUp() override {
    UpdateReadyTest::SetUp();
    samples_.Install();
  }

  void Plug(std::int32_t transmitters, std::int32_t rateHz) {
    id_ = ZAVNVirtualPlugReceiver(transmitters, rateHz);
    ASSERT_GT(id_, 0);
  }

  // Runs until `done` holds, calling `afterCycle` after each; false after 100'000 cycles.
  bool Run(const std::function<bool()>& done, const std::function<void()>& afterCycle = {}) {
    LibraryTest::Connect();
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
    for (int cycle = 0;; ++cycle) {
      if (cycle == 100'000) return false;
      const bool running = system_.Step();
      TakeSent();
      if (afterCycle) afterCycle();
      ReconnectIfLost(running);
      if (done()) break;
    }
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_STOP);
    end_ = system_.TickMs();
    ZAVNTerminate(0);
    TakeSent();
    return true;
  }
  static bool Done() { return ZAVNGetBootloaderStatus(1) == ZAVN_UPDATE_DONE; }

  void TakeSent() {
    // The clock moved on by one cycle when the thread parked.
    const std::uint32_t sentAt = system_.TickMs() - core::kPollPeriodMs;
    for (Bytes r = TakeOutput(id_); !r.empty(); r = TakeOutput(id_)) {
      sent_.push_back(r);
      sentAt_.push_back(sentAt);
    }
  }
  std::size_t Count(const Is& is) const { return std::count_if(sent_.begin(), sent_.end(), is); }
  // Position of the first report from `from` on that `is` accepts; sent_.size() when none.
  std::size_t Find(std::size_t from, const Is& is) const {
    return std::find_if(sent_.begin() + from, sent_.end(), is) - sent_.begin();
  }
  std::size_t FindLast(const Is& is) const {
    const auto last = std::find_if(sent_.rbegin(), sent_.rend(), is);
    return last == sent_.rend() ? sent_.size() : sent_.rend() - last - 1;
  }

  // The last transfer of the HEX image went out whole, every line in order and once, with the
  // checksum of what it sent, which the host reads; then the finish, and the serial number read
  // at the start written back and dropped with the run's end.
  void ExpectWholeTransfer() {
    std::size_t at = FindLast(kBootStep1);
    ASSERT_LT(at, sent_.size());
    std::uint32_t sum = 0;
    for (int n = 0; n < firmware::kVUKLines; ++n) {
      const std::string text = firmware::VUKImage[n];
      Bytes line(32, 0);
      line[0] = 0x10;
      for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
        line[(i + 1) / 2] = firmware::HexPair(text[i], text[i + 1]);
      }
      for (int i = 0; i < line[1]; ++i) sum += line[5 + i] == 0xFF ? 0 : line[5 + i];
      at = Find(at, kHexLine);
      ASSERT_LT(at, sent_.size()) << n;
      ASSERT_EQ(sent_[at++], line) << n;
    }
    EXPECT_EQ(Find(at, kHexLine), sent_.size()) << "a line sent again";
    const auto byte = [sum](int shift) { return static_cast<std::uint8_t>(sum >> shift); };
    at = Find(at, Equals(WithZeros({0x11, 0x23, 0xB7, byte(24), byte(16), byte(8), byte(0)}, 9)));
    EXPECT_EQ(ZAVNGetVUKAppCheckSum(), sum);
    at = Find(Find(at, kFinish), Equals(kWriteBack));
    EXPECT_LT(Find(at, Equals(WithZeros({0x05, 0x00}, 16))), sent_.size());
    EXPECT_EQ(Count(kSerialWrite), Count(Equals(kWriteBack)));
    ZAVNVirtualTransmitterState state{};
    ASSERT_EQ(ZAVNVirtualGetTransmitter(id_, &state), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.serial), 16), kSerial);
    EXPECT_FALSE(firmware::UpdateSlot(1).serialKept);
  }

  SampleRecorder samples_;
  std::int32_t id_ = 0;
  std::vector<Bytes> sent_;
  std::vector<std::uint32_t> sentAt_;
  std::uint32_t end_ = 0;
};

// The poll thread held up for 300 ms (by a host's callback, a busy machine) while four
// transmitters stream 1000 records a second: the queues keep what came meanwhile, and every
// record arrives once and in order.
TEST_F(UpdateRunTest, RecordsQueuedWhileThePollThreadWasHeldUpAllArrive) {
  Plug(4, 1000);
  LibraryTest::Connect();
  for (int k = 0; k < 150; ++k) ASSERT_TRUE(system_.Step());
  system_.Advance(300);
  for (int k = 0; k < 50; ++k) ASSERT_TRUE(system_.Step());
  for (int p = 1; p <= 4; ++p) {
    const Stream s = samples_.StreamOf(p);
    EXPECT_GT(samples_.Count(p), 1000u);
    EXPECT_EQ(s.lost + s.repeated, 0u);
  }
}

// A radio dongle takes the table image, comes back as a dongle whose serial number is read
// before the erase, takes the HEX image in its boot loader and gets that serial number back,
// while the other players stream on. Whole, every report is spaced as the receiver needs; pulled
// out at a point of the update and plugged back in 300 ms later, the receiver comes back with the
// firmware it was running, and the update goes on with whole images.
struct CutPoint {
  const char* name;
  Is after;           // none: the update runs whole
  std::size_t count;  // the cut follows the count-th such report
};
const CutPoint kCutPoints[] = {
    {"Whole", nullptr, 0},          {"SerialRead", kSerialQuery, 1}, {"Erase", Equals(kErase), 1},
    {"TableImage", kTableRow, 500}, {"BootSteps", kBootStep1, 1},    {"HexImage", kHexLine, 700},
    {"Checksum", kChecksum, 1},     {"Finish", kFinish, 1},          {"WriteBack", kSerialWrite, 1},
};
class UpdateAtRateTest : public UpdateRunTest,
                         public ::testing::WithParamInterface<std::tuple<CutPoint, int>> {};

TEST_P(UpdateAtRateTest, TheUpdateFinishesWhileTheOtherPlayersStream) {
  const auto& [cut, rate] = GetParam();
  Plug(4, rate);
  ASSERT_EQ(ZAVNVirtualSetProduct(id_, "nRFUSBDongle"), 1);
  std::uint32_t pulledAt = 0;
  std::size_t backAt = 0;
  ASSERT_TRUE(Run(Done, [&, &cut = cut] {
    if (cut.after && pulledAt == 0 && Count(cut.after) >= cut.count) {
      ASSERT_EQ(ZAVNVirtualUnplug(id_), 1);
      pulledAt = system_.TickMs();
    } else if (pulledAt != 0 && system_.TickMs() - pulledAt == 300) {
      ASSERT_EQ(ZAVNVirtualReplug(id_), 1);
      backAt = sent_.size();
    }
  }));
  // The last table image went out whole: every row in order, once, from its first.
  std::vector<Bytes> rows(firmware::kHarlonRows, Bytes(32));
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    for (int i = 0; i < 32; ++i) {
      rows[row][i] = firmware::HexPair(firmware::HarlonImage[row][2 * i],
                                       firmware::HarlonImage[row][2 * i + 1]);
    }
  }
  std::size_t at = FindLast(Equals(rows[0]));
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    at = Find(at, kTableRow);
    ASSERT_LT(at, sent_.size()) << row;
    ASSERT_EQ(sent_[at++], rows[row]) << row;
  }
  EXPECT_EQ(Find(at, kTableRow), sent_.size()) << "a row sent again";
  ExpectWholeTransfer();
  // Players 2 to 4 had every record once and in order, never waiting 50 ms for the next, up to
  // the end.
  for (int p = 2; p <= 4; ++p) {
    const Stream s = samples_.StreamOf(p);
    EXPECT_GE(samples_.Count(p) * 1000, (samples_.Count(p) + s.lost) * 999) << "player " << p;
    EXPECT_EQ(s.repeated, 0u) << "player " << p;
    EXPECT_LT(s.longestGapMs, 50u) << "player " << p;
    EXPECT_LT(end_ - s.last.tickMs, 50u) << "player " << p;
  }
  if (!cut.after) {
    // Each report of the update reached the receiver no sooner after the one before than the
    // receiver's pause, and within a few cycles of it.
    for (const Step& step : kSteps) EXPECT_GT(Count(step.is), 0u) << step.name;
    const Step* before = nullptr;
    std::uint32_t beforeAt = 0;
    for (std::size_t k = 0; k < sent_.size(); ++k) {
      const Step* step = StepOf(sent_[k]);
      if (step == nullptr) continue;
      const std::uint32_t gap = sentAt_[k] - beforeAt;
      EXPECT_TRUE(!before ||
                  (gap >= before->pauseMs && gap <= before->pauseMs + 5 * core::kPollPeriodMs))
          << before->name << ", then " << step->name << ": " << gap << " ms";
      before = step;
      beforeAt = sentAt_[k];
    }
    EXPECT_EQ(Count(kBootStep1), 1u);
    EXPECT_EQ(Count(kChecksum), 2u);  // the second finds the first one's confirmation
    return;
  }
  // Back, the machine goes on at once, or after the pause it was in (the longest is 1 s): it
  // neither waits for a grant that cannot come nor sends checksums of an image the receiver lacks.
  ASSERT_NE(backAt, 0u);
  while (backAt < sent_.size() && StepOf(sent_[backAt]) == nullptr) ++backAt;
  ASSERT_LT(backAt, sent_.size());
  EXPECT_LE(sentAt_[backAt] - (pulledAt + 300), 1000u + 5 * core::kPollPeriodMs);
  EXPECT_LE(Count(kChecksum), 3u);
}

INSTANTIATE_TEST_SUITE_P(FourTransmitters, UpdateAtRateTest,
                         ::testing::Combine(::testing::ValuesIn(kCutPoints),
                                            ::testing::Values(200, 1000)),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param).name) + "At" +
                                  std::to_string(std::get<1>(test.param));
                         });

// A HEX line lost on the way (its write fails). Without its grant the machine starts the
// transfer again once the grant is overdue; with a grant from elsewhere it goes on, the
// receiver does not confirm the checksum, and after 102 tries the transfer starts again. Either
// way the second transfer goes out whole and the update finishes.
class LostLineTest : public UpdateRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LostLineTest, TheTransferStartsAgainAndFinishes) {
  const bool granted = GetParam();
  Plug(1, 200);
  std::uint32_t lostAt = 0;
  ASSERT_TRUE(Run(Done, [&] {
    if (lostAt == 0 && Count(kHexLine) == 100) {
      ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
      ASSERT_TRUE(system_.Step());
      lostAt = system_.TickMs() - core::kPollPeriodMs;
      ZAVNVirtualSetFaults(id_, 0);
      if (granted) {
        const std::uint8_t boot[32] = {0x02, 'B', 0x95, 0x3B};
        ASSERT_EQ(ZAVNVirtualQueueInput(id_, boot, 32), 1);
      }
    }
  }));
  ASSERT_NE(lostAt, 0u);
  EXPECT_EQ(Count(kBootStep1), 2u);
  const std::size_t again = FindLast(kBootStep1);
  const auto checksums = std::count_if(sent_.begin(), sent_.begin() + again, kChecksum);
  EXPECT_EQ(checksums, granted ? 102 : 0);
  if (!granted) {
    EXPECT_GE(sentAt_[again] - lostAt, firmware::kGrantTimeoutMs);
  }
  ExpectWholeTransfer();
}

INSTANTIATE_TEST_SUITE_P(GrantedOrNot, LostLineTest, ::testing::Bool());

// Receiver A's serial number, read before its erase, belongs to that run only. The run stopped
// there, the host resets the library, puts receiver B in the slot, reads B's serial number and
// lets the update go on: B, come up as "NOLTAZ", gets its own serial number back, not A's.
TEST_F(UpdateRunTest, AStoppedRunsSerialNumberGoesToNoOtherReceiver) {
  const std::string serialA = "RECEIVERA0000001";
  const auto serialIn = [](const PlayerStatus& s) {
    return std::string(reinterpret_cast<const char*>(s.SerialBlock), sizeof s.SerialBlock);
  };
  Plug(1, 200);
  LibraryTest::Connect();
  ZAVNAskSerialNumber(1, 2, reinterpret_cast<const std::uint8_t*>(serialA.data()), 2);
  ASSERT_TRUE(Run([&] { return Count(Equals(kErase)) > 0; }));
  ASSERT_EQ(serialIn(input::LibraryStatus(1)), serialA);

  ZAVNReset();
  ZAVNVirtualClear();
  Plug(1, 200);
  LibraryTest::Connect();
  // Asked again until answered, as an answer can be lost early in a link.
  for (int k = 0; k < 3000 && serialIn(input::LibraryStatus(1)) != kSerial; ++k) {
    if (k % 100 == 0) ZAVNAskSerialNumber(1, 3, nullptr, 1);
    ReconnectIfLost(system_.Step());
  }
  ASSERT_EQ(serialIn(input::LibraryStatus(1)), kSerial);
  ASSERT_EQ(ZAVNVirtualSetProduct(id_, "NOLTAZ"), 1);
  sent_.clear();
  ASSERT_TRUE(Run([&] { return Count(kSerialWrite) > 0; }));
  EXPECT_EQ(sent_[Find(0, kSerialWrite)], kWriteBack);
}

// Placeholder images: an update half-way through its HEX image goes back to its start once the
// receiver is met through another port, and sends nothing there.
TEST_F(UpdateRunTest, PlaceholderImagesReachTheVirtualReceiverOnly) {
  if (ZAVNFirmwareImagesArePlaceholders() == 0) GTEST_SKIP() << "real images go to any receiver";
  Plug(1, 100);
  ASSERT_TRUE(Run([&] { return Count(kHexLine) > 0; }));

  // The boot loader, as the system's HID stack would show it.
  static ScriptedPort port;
  port.Add({platform::PathResult::kFound, "\\\\?\\hid#boot", {0xFFFF, 0x0008, 1}, {32, 32, 0}, 1});
  const std::u16string product = u"NOLTABootloader";  // UTF-16LE on the machines we test on
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(product.c_str());
  port.product.assign(bytes, bytes + 2 * (product.size() + 1));
  platform::InstallHidPort(&port);
  ZAVNReset();  // forgets the slot's path; the machine keeps its progress
  ASSERT_GT(firmware::UpdateSlot(1).vukLine, 0);
  system_.StepFromNowOn();
  const std::uint64_t cycles = system_.Cycles();
  ASSERT_TRUE(Run([&] { return system_.Cycles() > cycles + 1000; }));
  EXPECT_EQ(firmware::UpdateSlot(1).state, firmware::UPD_IDLE);
  EXPECT_EQ(firmware::UpdateSlot(1).vukLine, 0);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), 0);
  ASSERT_FALSE(port.written.empty());  // the periodic reports
  for (const Bytes& report : port.written) EXPECT_EQ(StepOf(report), nullptr);
}

}  // namespace
}  // namespace zavn::testing

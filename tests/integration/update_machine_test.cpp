// The firmware update machine, run by the poll thread on the injected clock: its steps one
// cycle at a time, and whole updates end to end against the virtual receiver.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "firmware/hex_text.h"
#include "firmware/images.h"
#include "firmware/update_machine.h"
#include "input/status_records.h"
#include "support/output_log.h"
#include "support/report_builder.h"
#include "support/update_fixture.h"

namespace zavn::testing {
namespace {

using firmware::UpdateSlot;

bool IsSerialQuery(const Bytes& r, std::uint8_t sub) {
  return r.size() == 16 && r[0] == 0x05 && r[1] == sub;
}
bool IsBootCommand(const Bytes& r, std::uint8_t first, std::uint8_t second) {
  return r.size() == 16 && r[0] == 0x11 && r[1] == first && r[2] == second;
}
bool IsHexLine(const Bytes& r) {
  return r.size() == 32 && r[0] == 0x10;
}
bool IsTableRow(const Bytes& r) {
  return r.size() == 32 && r[0] == 0x03;
}
const Bytes kErase{0x07, 0x00, 0x00, 0x00, 0x17, 'E', 'R', 'A', 'S'};

int Count(const std::vector<Bytes>& reports, bool (*is)(const Bytes&)) {
  int count = 0;
  for (const Bytes& r : reports) count += is(r) ? 1 : 0;
  return count;
}

// A boot-loader record as the receiver sends it: report ID, "B", 0x95, 0x3B.
Bytes BootRecord() {
  Bytes report(kReportLength, 0);
  report[0] = 0x02;
  report[1] = 'B';
  report[2] = 0x95;
  report[3] = 0x3B;
  return report;
}

class UpdateMachineTest : public UpdateReadyTest {
 protected:
  // Connects what is plugged and lets the poll thread finish its first cycle.
  void ConnectAndCycle() {
    Connect();
    Cycle();
  }
  void Cycle() { ASSERT_TRUE(system_.StepCycle()); }
  void CycleUntil(firmware::UpdateState state, int slot = 1) {
    for (int k = 0; k < 50 && UpdateSlot(slot).state != state; ++k) Cycle();
    ASSERT_EQ(UpdateSlot(slot).state, state);
  }
  void Queue(std::int32_t id, const Bytes& report) {
    ASSERT_EQ(ZAVNVirtualQueueInput(id, report.data(), static_cast<std::int32_t>(report.size())),
              1);
  }
};

TEST_F(UpdateMachineTest, ADongleIsIdentifiedAndAskedForItsSerialUntilItIsComplete) {
  const std::int32_t id = PlugReceiver("NOLTADongle");
  ConnectAndCycle();
  ASSERT_EQ(ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN), 1);
  Cycle();
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_IDENTIFY);
  Cycle();
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_READ_SERIAL);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_READING_SERIAL);  // 14 at once, not 7

  // 14 non-zero bytes and a zero among the first 15: asked again on every pass.
  std::uint8_t serial[16];
  for (int k = 0; k < 16; ++k) serial[k] = static_cast<std::uint8_t>('A' + k);
  serial[9] = 0;
  Bytes reply(kReportLength, 0);
  PutReply(reply.data(), 'R', serial, 16);
  Queue(id, reply);
  TakeAllOutput(id);
  for (int pass = 0; pass < 3; ++pass) {
    Cycle();
    EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_READ_SERIAL);
    const std::vector<Bytes> sent = TakeAllOutput(id);
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const Bytes& r) { return IsSerialQuery(r, 3); }),
        1);
  }
  EXPECT_EQ(input::LibraryStatus(1).SerialBlock[10], 'K');

  // The 16th byte is not looked at.
  serial[9] = 'J';
  serial[15] = 0;
  PutReply(reply.data(), 'R', serial, 16);
  Queue(id, reply);
  Cycle();
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_END_SERIAL_READ);
  Cycle();
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_ERASE);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_SERIAL_READ);
  TakeAllOutput(id);
  Cycle();
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_IDLE);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_ERASED);
  const std::vector<Bytes> sent = TakeAllOutput(id);
  EXPECT_NE(std::find(sent.begin(), sent.end(), kErase), sent.end());
}

TEST_F(UpdateMachineTest, ModeHundredOnOneSlotHoldsEveryMachineAtItsStart) {
  PlugReceiver("NOLTADongle");
  PlugReceiver("NOLTADongle");
  ConnectAndCycle();
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  CycleUntil(firmware::UPD_READ_SERIAL);
  ZAVNBootLoaderFSM(2, ZAVN_UPDATE_RESET);
  for (int k = 0; k < 5; ++k) {
    Cycle();
    EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_IDLE);
    for (std::int32_t flag : UpdateSlot(1).reachedFlags) EXPECT_EQ(flag, 0);
    EXPECT_EQ(ZAVNGetBootloaderStatus(2), 0);
  }
  EXPECT_EQ(UpdateSlot(1).harlonProgress, firmware::kHarlonProgressStart);

  // The library reset stops every machine and clears the results.
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  ZAVNBootLoaderFSM(2, ZAVN_UPDATE_STOP);
  CycleUntil(firmware::UPD_READ_SERIAL);
  ASSERT_NE(ZAVNGetBootloaderStatus(1), 0);
  ZAVNReset();
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), 0);
  EXPECT_EQ(UpdateSlot(1).state, firmware::UPD_READ_SERIAL);  // the machine keeps its place

  // Slots outside 1..4 are refused.
  EXPECT_EQ(ZAVNBootLoaderFSM(0, 1), 0);
  EXPECT_EQ(ZAVNBootLoaderFSM(5, 1), 0);
  EXPECT_EQ(ZAVNGetBootloaderStatus(-1), 0);
  EXPECT_EQ(ZAVNCheckHarlonCHKAK(5), 0);
  EXPECT_EQ(ZAVNCheckVUKCHKAK(0), 0);
}

TEST_F(UpdateMachineTest, EachBootLoaderRecordGrantsOneMoreRow) {
  const std::int32_t id = PlugReceiver("nRFUSBDongle");
  ConnectAndCycle();
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  // The reset grants one row; a host that takes the grant leaves the machine nothing to send.
  EXPECT_EQ(ZAVNCheckHarlonCHKAK(1), 1);
  EXPECT_EQ(ZAVNCheckHarlonCHKAK(1), 0);
  CycleUntil(firmware::UPD_SEND_HARLON);
  for (int k = 0; k < 3; ++k) Cycle();
  EXPECT_EQ(UpdateSlot(1).harlonRow, 0);
  EXPECT_EQ(Count(TakeAllOutput(id), IsTableRow), 0);

  for (int row = 1; row <= 3; ++row) {
    Queue(id, BootRecord());
    Cycle();
    Cycle();  // no record: no row
    EXPECT_EQ(UpdateSlot(1).harlonRow, row);
  }
  const std::vector<Bytes> sent = TakeAllOutput(id);
  ASSERT_EQ(Count(sent, IsTableRow), 3);
  EXPECT_EQ(std::string(sent[0].begin() + 4, sent[0].begin() + 8), "BLST");
  // The same records grant the HEX image's lines.
  EXPECT_EQ(ZAVNCheckVUKCHKAK(1), 1);
  EXPECT_EQ(ZAVNCheckVUKCHKAK(1), 0);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_SENDING_TABLE_IMAGE);
}

// Whole updates, one poll-thread sleep at a time: the clock moves on with every sleep, so
// minutes of the receiver's time pass in a moment, and what the library sent is taken after each
// step, so the receiver's output log never overflows however slowly this thread is scheduled.
// The host reconnects whenever the receiver drops off.
class UpdateRunTest : public UpdateMachineTest {
 protected:
  void SetUp() override {
    UpdateMachineTest::SetUp();
    id_ = ZAVNVirtualPlugReceiver(1, 100);
    ASSERT_GT(id_, 0);
  }

  // Runs until `done` holds for what was sent; false after kMaxSteps sleeps.
  template <typename Done>
  bool Run(Done done) {
    constexpr int kMaxSteps = 2'000'000;
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
    for (int step = 0;; ++step) {
      if (step == kMaxSteps) return false;
      const bool running = system_.Step();
      const bool sentMore = TakeSent();
      ReconnectIfLost(running);
      // `done` may search everything sent: ask it when that grew, or now and then.
      if ((sentMore || step % 64 == 0) && done()) break;
    }
    // A pause holds the poll lock that Terminate takes: let the thread finish by itself.
    system_.RunFreely();
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_STOP);
    ZAVNTerminate(0);
    TakeSent();
    return true;
  }
  // True when there was something to take.
  bool TakeSent() {
    const std::size_t before = sent_.size();
    for (Bytes r = TakeOutput(id_); !r.empty(); r = TakeOutput(id_)) sent_.push_back(r);
    return sent_.size() > before;
  }
  bool Done() const { return ZAVNGetBootloaderStatus(1) == ZAVN_UPDATE_DONE; }

  // Position of the first report after `from` that `is` accepts; sent_.size() when none.
  template <typename Is>
  std::size_t Find(std::size_t from, Is is) const {
    while (from < sent_.size() && !is(sent_[from])) ++from;
    return from;
  }

  // The reports of the HEX image, as the writer converts its lines.
  static std::vector<Bytes> ImageLines(std::uint32_t& sum) {
    std::vector<Bytes> lines;
    sum = 0;
    for (int n = 0; n < firmware::kVUKLines; ++n) {
      const std::string text = firmware::VUKImage[n];
      Bytes report(32, 0);
      report[0] = 0x10;
      for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
        report[(i + 1) / 2] = firmware::HexPair(text[i], text[i + 1]);
      }
      for (int i = 0; i < report[1]; ++i) sum += report[5 + i] == 0xFF ? 0 : report[5 + i];
      lines.push_back(report);
    }
    return lines;
  }

  // From `from` on: the boot loader's steps, the whole image in order and the checksum.
  void ExpectImageSent(std::size_t from) {
    const std::size_t step1 =
        Find(from, [](const Bytes& r) { return IsBootCommand(r, 0x65, 0x91); });
    const std::size_t step2 =
        Find(step1, [](const Bytes& r) { return IsBootCommand(r, 0x3E, 0xB2); });
    ASSERT_LT(step2, sent_.size());
    std::uint32_t sum = 0;
    const std::vector<Bytes> lines = ImageLines(sum);
    std::size_t at = step2;
    for (const Bytes& line : lines) {
      at = Find(at, IsHexLine);
      ASSERT_LT(at, sent_.size());
      ASSERT_EQ(sent_[at], line) << at;
      ++at;
    }
    EXPECT_EQ(Find(at, IsHexLine), sent_.size()) << "a line sent twice";
    EXPECT_EQ(ZAVNGetVUKAppCheckSum(), sum);
    const Bytes checksum =
        WithZeros({0x11, 0x23, 0xB7, static_cast<std::uint8_t>(sum >> 24),
                   static_cast<std::uint8_t>(sum >> 16), static_cast<std::uint8_t>(sum >> 8),
                   static_cast<std::uint8_t>(sum)},
                  9);
    EXPECT_LT(Find(at, [&](const Bytes& r) { return r == checksum; }), sent_.size());
  }

  // From `from` on: the serial read, the erase, the image, the finish and the write-back.
  void ExpectWholeCycle(std::size_t from) {
    const std::size_t query = Find(from, [](const Bytes& r) { return IsSerialQuery(r, 3); });
    const std::size_t erase = Find(query, [](const Bytes& r) { return r == kErase; });
    ASSERT_LT(erase, sent_.size());
    ExpectImageSent(erase);
    const std::size_t finish =
        Find(erase, [](const Bytes& r) { return IsBootCommand(r, 0xCD, 0x5A); });
    Bytes writeBack{0x05, 0x02};
    const char* serial = "ZAVNTX0000000001";
    writeBack.insert(writeBack.end(), serial, serial + 16);
    const std::size_t write = Find(finish, [&](const Bytes& r) { return r == writeBack; });
    const std::size_t end = Find(write, [](const Bytes& r) {
      return r == WithZeros({0x05, 0x00}, 16);
    });
    EXPECT_LT(end, sent_.size());

    ZAVNVirtualTransmitterState state{};
    ASSERT_EQ(ZAVNVirtualGetTransmitter(id_, &state), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.serial), 16), serial);
  }

  std::int32_t id_ = 0;
  std::vector<Bytes> sent_;
};

TEST_F(UpdateRunTest, ADongleIsUpdatedThroughItsBootLoaderAndGetsItsSerialBack) {
  ASSERT_TRUE(Run([&] { return Done(); }));
  ExpectWholeCycle(0);
  EXPECT_EQ(input::LibraryStatus(1).BootBlock[6], 0x79);
  EXPECT_EQ(input::LibraryStatus(1).BootBlock[7], 0x85);
}

TEST_F(UpdateRunTest, ARadioDongleTakesTheTableImageAndThenTheWholeCycle) {
  ASSERT_EQ(ZAVNVirtualSetProduct(id_, "nRFUSBDongle"), 1);
  ASSERT_TRUE(Run([&] { return Done(); }));
  std::size_t at = 0;
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    at = Find(at, IsTableRow);
    ASSERT_LT(at, sent_.size()) << row;
    Bytes expected(32);
    for (int i = 0; i < 32; ++i) {
      expected[i] = firmware::HexPair(firmware::HarlonImage[row][2 * i],
                                      firmware::HarlonImage[row][2 * i + 1]);
    }
    ASSERT_EQ(sent_[at], expected) << row;
    ++at;
  }
  EXPECT_EQ(Find(at, IsTableRow), sent_.size());
  ExpectWholeCycle(at);
}

TEST_F(UpdateRunTest, AWrongChecksumIsNeverConfirmedAndTheBootLoaderStartsAgain) {
  // An extra line summed but sent nowhere: the receiver's sum differs from the library's.
  char line[ZAVN_IMAGE_LINE_BYTES] = ":0100000005FA";
  char scratch[ZAVN_IMAGE_LINE_BYTES];
  ZAVNWriteVUKHex(3, scratch, line);
  auto isChecksum = [](const Bytes& r) { return IsBootCommand(r, 0x23, 0xB7); };
  auto isStep1 = [](const Bytes& r) { return IsBootCommand(r, 0x65, 0x91); };
  // Until the boot loader has been started a second time.
  ASSERT_TRUE(Run([&] {
    const std::size_t first = Find(0, isStep1);
    return first < sent_.size() && Find(first + 1, isStep1) < sent_.size();
  }));
  const std::size_t first = Find(0, isStep1);
  const std::size_t again = Find(first + 1, isStep1);
  int checksums = 0;
  for (std::size_t k = first; k < again; ++k) checksums += isChecksum(sent_[k]) ? 1 : 0;
  EXPECT_EQ(checksums, 102);
  EXPECT_EQ(Find(0, [](const Bytes& r) { return IsBootCommand(r, 0xCD, 0x5A); }), sent_.size());
  EXPECT_NE(input::LibraryStatus(1).BootBlock[6], 0x79);
  EXPECT_NE(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_DONE);
  // The second start sends no line again: the image has gone out.
  EXPECT_EQ(Find(again, IsHexLine), sent_.size());
}

}  // namespace
}  // namespace zavn::testing

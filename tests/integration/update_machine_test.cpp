// Whole firmware updates, run by the poll thread on the injected clock against the virtual
// receiver.
#include <algorithm>
#include <functional>
#include <string>

#include "firmware/hex_text.h"
#include "firmware/images.h"
#include "input/status_records.h"
#include "platform/virtual/virtual_receiver.h"
#include "support/output_log.h"
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
Is BootCommand(std::uint8_t first, std::uint8_t second) {
  return Starts({0x11, first, second}, 16);
}
const Is kSerialQuery = Starts({0x05, 0x03}, 16);
const Is kHexLine = Starts({0x10}, 32);
const Is kTableRow = Starts({0x03}, 32);
const Bytes kErase{0x07, 0x00, 0x00, 0x00, 0x17, 'E', 'R', 'A', 'S'};

bool Done() {
  return ZAVNGetBootloaderStatus(1) == ZAVN_UPDATE_DONE;
}

// One poll-thread sleep at a time, the host reconnecting whenever the receiver drops off. What was
// sent is taken after each step: the output log never overflows.
class UpdateRunTest : public UpdateReadyTest {
 protected:
  void SetUp() override {
    UpdateReadyTest::SetUp();
    id_ = ZAVNVirtualPlugReceiver(1, 100);
    ASSERT_GT(id_, 0);
  }

  // Runs until `done` holds for what was sent; false after 2'000'000 sleeps.
  bool Run(const std::function<bool()>& done) {
    LibraryTest::Connect();
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
    for (int step = 0;; ++step) {
      if (step == 2'000'000) return false;
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
  // Position of the first report from `from` on that `is` accepts; sent_.size() when none.
  std::size_t Find(std::size_t from, const Is& is) const {
    while (from < sent_.size() && !is(sent_[from])) ++from;
    return from;
  }

  // From `from` on: the serial read, the erase, the boot loader's steps, the whole HEX image in
  // order and once, its checksum, the finish and the serial number written back.
  void ExpectWholeCycle(std::size_t from) {
    std::size_t at = Find(Find(from, kSerialQuery), Equals(kErase));
    at = Find(Find(at, BootCommand(0x65, 0x91)), BootCommand(0x3E, 0xB2));
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
    EXPECT_EQ(Find(at, kHexLine), sent_.size()) << "a line sent twice";
    EXPECT_EQ(ZAVNGetVUKAppCheckSum(), sum);
    const auto byte = [sum](int shift) { return static_cast<std::uint8_t>(sum >> shift); };
    at = Find(at, Equals(WithZeros({0x11, 0x23, 0xB7, byte(24), byte(16), byte(8), byte(0)}, 9)));
    const std::string serial = "ZAVNTX0000000001";
    Bytes writeBack{0x05, 0x02};
    writeBack.insert(writeBack.end(), serial.begin(), serial.end());
    at = Find(Find(at, BootCommand(0xCD, 0x5A)), Equals(writeBack));
    EXPECT_LT(Find(at, Equals(WithZeros({0x05, 0x00}, 16))), sent_.size());

    ZAVNVirtualTransmitterState state{};
    ASSERT_EQ(ZAVNVirtualGetTransmitter(id_, &state), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(state.serial), 16), serial);
  }

  std::int32_t id_ = 0;
  std::vector<Bytes> sent_;
};

TEST_F(UpdateRunTest, ADongleIsUpdatedThroughItsBootLoaderAndGetsItsSerialBack) {
  ASSERT_TRUE(Run(Done));
  ExpectWholeCycle(0);
  EXPECT_EQ(input::LibraryStatus(1).BootBlock[6], 0x79);
  EXPECT_EQ(input::LibraryStatus(1).BootBlock[7], 0x85);
}

TEST_F(UpdateRunTest, ARadioDongleTakesTheTableImageAndThenTheWholeCycle) {
  ASSERT_EQ(ZAVNVirtualSetProduct(id_, "nRFUSBDongle"), 1);
  ASSERT_TRUE(Run(Done));
  std::size_t at = 0;
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    Bytes expected(32);
    for (int i = 0; i < 32; ++i) {
      expected[i] = firmware::HexPair(firmware::HarlonImage[row][2 * i],
                                      firmware::HarlonImage[row][2 * i + 1]);
    }
    at = Find(at, kTableRow);
    ASSERT_LT(at, sent_.size()) << row;
    ASSERT_EQ(sent_[at++], expected) << row;
  }
  EXPECT_EQ(Find(at, kTableRow), sent_.size());
  ExpectWholeCycle(at);
}

TEST_F(UpdateRunTest, AWrongChecksumIsNeverConfirmedAndTheBootLoaderStartsAgain) {
  // An extra line summed but sent nowhere: the receiver's sum differs from the library's.
  char line[ZAVN_IMAGE_LINE_BYTES] = ":0100000005FA";
  char scratch[ZAVN_IMAGE_LINE_BYTES];
  ZAVNWriteVUKHex(3, scratch, line);
  const Is isStep1 = BootCommand(0x65, 0x91);
  // Until the boot loader has been started a second time.
  ASSERT_TRUE(Run([&] { return Find(Find(0, isStep1) + 1, isStep1) < sent_.size(); }));
  const std::size_t first = Find(0, isStep1);
  const std::size_t again = Find(first + 1, isStep1);
  EXPECT_EQ(std::count_if(sent_.begin() + first, sent_.begin() + again, BootCommand(0x23, 0xB7)),
            102);
  EXPECT_EQ(Find(0, BootCommand(0xCD, 0x5A)), sent_.size());
  EXPECT_NE(input::LibraryStatus(1).BootBlock[6], 0x79);
  EXPECT_NE(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_DONE);
  // The second start sends no line again: the image has gone out.
  EXPECT_EQ(Find(again, kHexLine), sent_.size());
}

// Placeholder images: an update half-way through its HEX image goes back to its start once the
// receiver is met through another port, and sends nothing there; back on the virtual receiver it
// runs to its end.
TEST_F(UpdateRunTest, PlaceholderImagesReachTheVirtualReceiverOnly) {
  if (ZAVNFirmwareImagesArePlaceholders() == 0) GTEST_SKIP() << "real images go to any receiver";
  ASSERT_TRUE(Run([&] { return Find(0, kHexLine) < sent_.size(); }));

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
  for (const Bytes& report : port.written) {
    for (const Is& is :
         {kHexLine, kTableRow, kSerialQuery, Equals(kErase), BootCommand(0x65, 0x91)}) {
      EXPECT_FALSE(is(report));
    }
  }

  // Back on the virtual receiver the update runs to its end. The receiver is plugged afresh: the
  // one before has counted the image lines it took before the switch.
  platform::InstallHidPort(nullptr);
  ZAVNReset();
  ZAVNVirtualClear();
  id_ = ZAVNVirtualPlugReceiver(1, 100);
  ASSERT_GT(id_, 0);
  system_.StepFromNowOn();
  ASSERT_TRUE(Run(Done));
}

}  // namespace
}  // namespace zavn::testing

// A capture of a session holds every report read and written, in order, as the library handled
// them and as tshark reads them back; played back, it gives the host what the session gave.
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/run_state.h"
#include "platform/capture/capture_format.h"
#include "support/eventually.h"
#include "support/library_fixture.h"
#include "support/sample_recorder.h"

namespace zavn::testing {
namespace {

// Closes the slots and waits for the poll thread to end by itself, so that no read of it is
// under way afterwards (a read that meets a capture's end goes uncaptured).
void CloseAndAwaitPollEnd() {
  for (int player = 1; player <= 4; ++player) ZAVNDisconnectRx(player);
  ASSERT_TRUE(Eventually([] { return core::Run().pollThreadId == 0; }))
      << "the poll thread did not end";
}

// Holds up the capture's writer: while it is set, the library's writes to files wait (this
// executable's fwrite, below, comes before the C library's).
std::atomic<bool> g_holdWrites{false};

// A capture file read block by block, up to its end or to a block cut short: each device's
// sample numbers of its motion records, and each statistics block's count of dropped reports.
struct CaptureFile {
  std::size_t packets = 0, outputs = 0;
  std::vector<std::uint32_t> samples[4];
  std::vector<std::uint64_t> dropCounts;
  bool whole = false;  // it ends with a whole block
};
CaptureFile ReadCapture(const std::string& path) {
  namespace cap = platform::capture;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  const auto at = [&](std::size_t offset, std::uint64_t value = 0, int bytes = 4) {
    std::memcpy(&value, &file[offset], bytes);  // little-endian, as this machine
    return value;
  };
  CaptureFile read;
  std::size_t block = 0;
  for (std::size_t length = 0; block + 12 <= file.size(); block += length) {
    length = at(block + 4);
    if (length < 12 || block + length > file.size() || at(block + length - 4) != length) break;
    if (at(block) == cap::kStatisticsBlock) read.dropCounts.push_back(at(block + 24, 0, 8));
    if (at(block) != cap::kEnhancedPacketBlock) continue;
    ++read.packets;
    const std::uint8_t* usbmon = &file[block + 28];
    const std::uint8_t* report = usbmon + cap::kUsbmonHeaderLength;
    if (usbmon[10] == cap::kOutEndpoint) ++read.outputs;
    if (usbmon[10] == cap::kInEndpoint && report[0] == 2 && report[3] == 'A') {
      read.samples[usbmon[11] - 1].push_back(SampleOf(report));
    }
  }
  read.whole = block == file.size();
  return read;
}

// tshark's reading of a capture: each packet's device address, whether it is an input report,
// and its bytes in hex; a file tshark cannot read fails the test.
struct TsharkPacket {
  int device = 0, in = 0;
  std::string bytes;
};
std::vector<TsharkPacket> Tshark(const std::string& path) {
  const std::string command = "tshark -r '" + path + "' -T fields -e usb.device_address " +
                              "-e usb.endpoint_address.direction -e usb.capdata 2>/dev/null";
  std::vector<TsharkPacket> packets;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return packets;
  TsharkPacket packet;
  char hex[4096];
  while (std::fscanf(pipe, "%d %d %4095s", &packet.device, &packet.in, hex) == 3) {
    packet.bytes = hex;
    std::erase(packet.bytes, ':');
    packets.push_back(packet);
  }
  EXPECT_EQ(pclose(pipe), 0) << "tshark cannot read " << path;
  return packets;
}
constexpr const char* kHaveTshark = "tshark -v >/dev/null 2>&1";

class CaptureTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    platform::InstallSystem(nullptr);  // the library's own clock and threads
    samples_.Install();
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    std::filesystem::remove(other_);
    LibraryTest::TearDown();
  }
  const std::string path_ = (std::filesystem::temp_directory_path() /
                             ("zavn-capture-" + std::to_string(::getpid()) + ".pcapng"))
                                .string();
  const std::string other_ = path_ + ".other";
  SampleRecorder samples_;
};

// Four transmitters at 1000 records a second and a command, into a capture the host started
// before ZAVN_CAPTURE was read (at the process's first ZAVNInit or ZAVNConnectRx; ctest runs each
// test in a process of its own), which leaves it alone: the capture dropped nothing, the replay
// decodes the session's records, and tshark shows every report and the command.
TEST_F(CaptureTest, HoldsEveryReportInOrderAsTsharkReadsIt) {
  ASSERT_EQ(::setenv("ZAVN_CAPTURE", other_.c_str(), 1), 0);
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 1000), 0);
  Connect();
  ::unsetenv("ZAVN_CAPTURE");
  EXPECT_FALSE(std::filesystem::exists(other_)) << "ZAVN_CAPTURE started a capture of its own";
  samples_.AwaitMore({1, 2, 3, 4}, 500);
  const std::uint8_t motor[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ZAVNSetMotorAction(1, motor);
  CloseAndAwaitPollEnd();
  ASSERT_EQ(ZAVNStopCapture(), 0) << "the capture dropped reports";
  EXPECT_EQ(ZAVNStopCapture(), -1);
  ZAVNTerminate(0);

  // Played back at its captured timing, each player's host decodes what it decoded live: the
  // same records in the same order, none missing, where the two runs overlap (each one's players
  // are assigned after a few cycles, whose records the library drops).
  std::vector<Sample> live[4];
  for (int p = 0; p < 4; ++p) {
    live[p] = samples_.Of(p + 1);
    ASSERT_GE(live[p].size(), 500u) << "player " << p + 1;
  }
  ZAVNVirtualClear();  // the live receiver goes, the replay takes its place
  ZAVNInit();
  SampleRecorder replay;
  replay.Install();
  char error[256] = {};
  ASSERT_GT(
      ZAVNVirtualPlugReplay(path_.c_str(), ZAVN_REPLAY_CAPTURED_TIMING, 0, error, sizeof error), 0)
      << error;
  Connect();
  Eventually([&] {
    for (int p = 0; p < 4; ++p) {
      if (replay.StreamOf(p + 1).last.number < live[p].back().number) return false;
    }
    return true;
  });
  CloseAndAwaitPollEnd();
  for (int p = 0; p < 4; ++p) {
    const std::vector<Sample> replayed = replay.Of(p + 1);
    ASSERT_FALSE(replayed.empty()) << "player " << p + 1;
    const auto start = std::max(live[p].front().number, replayed.front().number);
    const auto from = [start](const std::vector<Sample>& run) {
      return std::find_if(run.begin(), run.end(), [start](auto& s) { return s.number == start; });
    };
    const auto inLive = from(live[p]), inReplay = from(replayed);
    ASSERT_TRUE(inLive != live[p].end() && inReplay != replayed.end()) << "player " << p + 1;
    const auto overlap = std::min(live[p].end() - inLive, replayed.end() - inReplay);
    EXPECT_GE(overlap, 400) << "player " << p + 1;
    EXPECT_TRUE(
        std::equal(inLive, inLive + overlap, inReplay,
                   [](auto& a, auto& b) { return a.number == b.number && a.decoded == b.decoded; }))
        << "player " << p + 1 << ": the replay decodes other records than the session";
  }

  // tshark reads the file as USB traffic of devices 1 to 4: an input report for every record
  // the players decoded live, and the command as written.
  if (std::system(kHaveTshark) != 0) GTEST_SKIP() << "no tshark here (apt-get install tshark)";
  std::size_t inputs[4] = {};
  bool motorSeen = false;
  for (const TsharkPacket& packet : Tshark(path_)) {
    ASSERT_TRUE(packet.device >= 1 && packet.device <= 4) << packet.device;
    inputs[packet.device - 1] += packet.in;
    motorSeen |= !packet.in && packet.device == 1 && packet.bytes.ends_with("0102030405060708");
  }
  EXPECT_TRUE(motorSeen);
  for (int p = 0; p < 4; ++p) EXPECT_GE(inputs[p], live[p].size()) << "player " << p + 1;
}

// Four transmitters at 1000 records a second into a capture whose writer is held up for over a
// second, so that the ring fills, then onto a disk that fills up: what the ring dropped and what
// the file could not take are counted, and the file as it stood on the full disk reads whole,
// to tshark too.
TEST_F(CaptureTest, CountsWhatAFullRingAndAFullDiskLost) {
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  const std::int32_t first = ZAVNVirtualPlugReceiver(4, 1000);
  ASSERT_GT(first, 0);
  Connect();
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 100));
  g_holdWrites = true;
  const bool streamed = samples_.AwaitMore({1, 2, 3, 4}, 1500);
  g_holdWrites = false;
  ASSERT_TRUE(streamed);
  // Once the file counts what was dropped, the ring has room again.
  ASSERT_TRUE(Eventually([&] { return !ReadCapture(path_).dropCounts.empty(); }));

  // The file may grow by 64 KiB and half a packet only, as on a nearly full disk: writes beyond
  // fail (EFBIG), the first one inside a block.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit room{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &room), 0);
  rlimit full = room;
  full.rlim_cur = std::filesystem::file_size(path_) + 64 * 1024 + 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 500));
  std::filesystem::copy_file(path_, other_);  // what a host that ended now would leave
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &room), 0);
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 100));  // written again
  CloseAndAwaitPollEnd();
  const auto missing = static_cast<std::uint64_t>(ZAVNStopCapture());
  EXPECT_GT(missing, 0u) << "the file has reports it could not take";
  const CaptureFile file = ReadCapture(path_), held = ReadCapture(other_);
  EXPECT_TRUE(file.whole && held.whole) << "a file ends inside a block";
  // The file lacks that many records and output reports (by the transmitters' sample numbers
  // and the reports they took), and so say its last statistics block written while it ran and
  // the final one.
  std::uint64_t lacking = 0;
  for (int p = 0; p < 4; ++p) {
    ZAVNVirtualTransmitterState transmitter{};
    ASSERT_EQ(ZAVNVirtualGetTransmitter(first + p, &transmitter), 1);
    lacking += transmitter.reportsReceived;
    for (std::uint32_t k = 0, next = 0; k < file.samples[p].size();
         next = file.samples[p][k++] + 1) {
      lacking += file.samples[p][k] - next;
    }
  }
  EXPECT_EQ(lacking - file.outputs, missing);
  ASSERT_GE(file.dropCounts.size(), 2u);
  EXPECT_EQ(file.dropCounts.end()[-2], missing) << "while it ran";
  EXPECT_EQ(file.dropCounts.back(), missing) << "at the end";
  if (std::system(kHaveTshark) == 0) {
    EXPECT_EQ(Tshark(other_).size(), held.packets) << "tshark on the file of the full disk";
  }
}

}  // namespace
}  // namespace zavn::testing

// The library's writes to files, held up while g_holdWrites is set, then the C library's.
extern "C" std::size_t fwrite(const void* data, std::size_t size, std::size_t count,
                              std::FILE* file) {
  static const auto next = reinterpret_cast<decltype(&fwrite)>(::dlsym(RTLD_NEXT, "fwrite"));
  while (zavn::testing::g_holdWrites && file != stdout && file != stderr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return next(data, size, count, file);
}

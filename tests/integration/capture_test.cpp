// A capture of a session holds every report read and written, in order, as the library handled
// them and as tshark reads them back; played back, it gives the host what the session gave.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

class CaptureTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    platform::InstallSystem(nullptr);  // the library's own clock and threads
    samples_.Install();
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    LibraryTest::TearDown();
  }
  const std::string path_ = (std::filesystem::temp_directory_path() /
                             ("zavn-capture-" + std::to_string(::getpid()) + ".pcapng"))
                                .string();
  SampleRecorder samples_;
};

// Four transmitters at 1000 records a second and a command: the capture dropped nothing, the
// replay decodes the session's records, and tshark shows every report and the command.
TEST_F(CaptureTest, HoldsEveryReportInOrderAsTsharkReadsIt) {
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 1000), 0);
  Connect();
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
  if (std::system("tshark -v >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no tshark here (apt-get install tshark)";
  }
  const std::string command = "tshark -r '" + path_ + "' -T fields -e usb.device_address " +
                              "-e usb.endpoint_address.direction -e usb.capdata 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::size_t inputs[4] = {};
  bool motorSeen = false;
  int device = 0, in = 0;
  char hex[4096];
  while (std::fscanf(pipe, "%d %d %4095s", &device, &in, hex) == 3) {
    ASSERT_TRUE(device >= 1 && device <= 4) << device;
    inputs[device - 1] += in;
    std::string bytes = hex;
    std::erase(bytes, ':');
    motorSeen |= !in && device == 1 && bytes.ends_with("0102030405060708");
  }
  EXPECT_EQ(pclose(pipe), 0) << "tshark cannot read the capture";
  EXPECT_TRUE(motorSeen);
  for (int p = 0; p < 4; ++p) EXPECT_GE(inputs[p], live[p].size()) << "player " << p + 1;
}

// A disk that fills up under a capture of four transmitters at 1000 records a second: the
// reports the file could not take are counted by ZAVNStopCapture and, once there is room again,
// in the file's last statistics block, and the file reads whole to its end.
TEST_F(CaptureTest, CountsWhatAFullDiskLost) {
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  // The file may grow by 64 KiB only, as on a nearly full disk: writes beyond fail (EFBIG).
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit room{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &room), 0);
  rlimit full = room;
  full.rlim_cur = std::filesystem::file_size(path_) + 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 1000), 0);
  Connect();
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 500));
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &room), 0);
  ASSERT_TRUE(samples_.AwaitMore({1}, 50));  // written again
  CloseAndAwaitPollEnd();
  const std::int32_t lost = ZAVNStopCapture();
  EXPECT_GT(lost, 0) << "the file took every report, though it could not";

  std::ifstream in(path_, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  platform::capture::Bytes last = platform::capture::DropStatistics(0, lost);
  ASSERT_GE(file.size(), last.size());
  std::vector<std::uint8_t> tail(file.end() - last.size(), file.end());
  std::fill_n(tail.begin() + 12, 8, 0);  // its time
  EXPECT_EQ(tail, last) << "the last block does not count " << lost << " lost reports";
  char why[256] = {};
  EXPECT_GT(ZAVNVirtualPlugReplay(path_.c_str(), 0, 0, why, sizeof why), 0) << why;
}

// ZAVN_CAPTURE, read at the process's first ZAVNInit or ZAVNConnectRx (ctest runs each test in
// a process of its own), leaves a capture the host started before it alone: the host's file gets
// the session, and the environment's is not made.
TEST_F(CaptureTest, TheEnvironmentsCaptureLeavesTheHostsOwn) {
  const std::string environments = path_ + ".environment";
  ASSERT_EQ(::setenv("ZAVN_CAPTURE", environments.c_str(), 1), 0);
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  ASSERT_GT(ZAVNVirtualPlugReceiver(1, 200), 0);
  Connect();
  ASSERT_TRUE(samples_.AwaitMore({1}, 20));
  CloseAndAwaitPollEnd();
  ::unsetenv("ZAVN_CAPTURE");
  EXPECT_FALSE(std::filesystem::exists(environments));
  std::filesystem::remove(environments);
  EXPECT_EQ(ZAVNStopCapture(), 0);
  EXPECT_GT(std::filesystem::file_size(path_), 20u * 64u) << "the host's capture lacks the session";
}

}  // namespace
}  // namespace zavn::testing

// A capture of a session holds every report read and written, in order, as the library handled
// them and as tshark reads them back; played back, it gives the host what the session gave.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "input/status_records.h"
#include "platform/capture/capture_format.h"
#include "support/eventually.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace format = platform::capture;

std::uint32_t Le32(const std::uint8_t* b) {
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

struct Captured {
  int device = 0;  // slot + 1
  bool output = false;
  Bytes data;
};

// The reports of a capture, after checking its blocks' framing.
std::vector<Captured> ReadCapture(const std::string& path, std::uint16_t& linkType) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Captured> packets;
  for (std::size_t at = 0; at + 12 <= file.size();) {
    const std::uint32_t type = Le32(&file[at]);
    const std::uint32_t length = Le32(&file[at + 4]);
    EXPECT_TRUE(length >= 12 && length % 4 == 0 && at + length <= file.size()) << at;
    if (length < 12 || at + length > file.size()) break;
    EXPECT_EQ(Le32(&file[at + length - 4]), length);
    const std::uint8_t* body = &file[at + 8];
    if (type == format::kInterfaceBlock) linkType = static_cast<std::uint16_t>(Le32(body));
    if (type == format::kEnhancedPacketBlock) {
      const std::uint32_t captured = Le32(body + 12);
      const std::uint8_t* usbmon = body + 20;
      packets.push_back({usbmon[11], usbmon[10] == format::kOutEndpoint,
                         Bytes(usbmon + format::kUsbmonHeaderLength, usbmon + captured)});
    }
    at += length;
  }
  return packets;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[3];
  for (const std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

// What tshark shows of each packet's report bytes, colons removed; empty when there is no tshark.
std::vector<std::string> TsharkReports(const std::string& path) {
  std::vector<std::string> reports;
  const std::string command = "tshark -r '" + path + "' -T fields -e usb.capdata 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return reports;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text;
    for (const char* c = line; *c != '\0' && *c != '\n'; ++c) {
      if (*c != ':') text += *c;
    }
    reports.push_back(text);
  }
  pclose(pipe);
  return reports;
}

// What the host decoded of a record: its sample number, the six motion values, the buttons.
using Decoded = std::array<std::int32_t, 1 + ZAVN_MOTION_CHANNELS + ZAVN_BUTTON_COUNT>;

// Every record each player's callback had, on the poll thread (read once it has ended), the
// number so far and the last sample number.
std::vector<Decoded> g_samples[4];
std::atomic<std::size_t> g_counts[4];
std::atomic<std::uint32_t> g_last[4];
void ZAVN_CALL OnRecord(std::int32_t, PlayerStatus* status) {
  for (int p = 0; p < 4; ++p) {
    if (status != &input::LibraryStatus(p + 1)) continue;
    Decoded decoded{static_cast<std::int32_t>(SampleOf(status->RawRecord))};
    std::copy_n(status->Motion, ZAVN_MOTION_CHANNELS, &decoded[1]);
    std::copy_n(status->Buttons, ZAVN_BUTTON_COUNT, &decoded[1 + ZAVN_MOTION_CHANNELS]);
    g_samples[p].push_back(decoded);
    ++g_counts[p];
    g_last[p] = SampleOf(status->RawRecord);
  }
}

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
    for (int p = 0; p < 4; ++p) {
      g_samples[p].clear();
      g_counts[p] = 0;
    }
    ZAVNInitGetRawDataCallBack(OnRecord);
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    LibraryTest::TearDown();
  }
  const std::string path_ = (std::filesystem::temp_directory_path() /
                             ("zavn-capture-" + std::to_string(::getpid()) + ".pcapng"))
                                .string();
};

// Four transmitters at 1000 records a second and a command: the capture dropped nothing, the
// command is there as written, the replay decodes the session's records, and tshark shows the
// same report bytes in the same order.
TEST_F(CaptureTest, HoldsEveryReportInOrderAsTsharkReadsIt) {
  ASSERT_EQ(ZAVNStartCapture(path_.c_str()), 1);
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 1000), 0);
  Connect();
  Eventually([] {
    return std::all_of(std::begin(g_counts), std::end(g_counts), [](auto& n) { return n >= 500; });
  });
  const std::uint8_t motor[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ZAVNSetMotorAction(1, motor);
  CloseAndAwaitPollEnd();
  ASSERT_EQ(ZAVNStopCapture(), 0) << "the capture dropped reports";
  EXPECT_EQ(ZAVNStopCapture(), -1);
  ZAVNTerminate(0);

  std::uint16_t linkType = 0;
  const std::vector<Captured> packets = ReadCapture(path_, linkType);
  EXPECT_EQ(linkType, format::kLinkTypeUsbLinuxMmapped);
  bool motorSeen = false;
  for (const Captured& packet : packets) {
    ASSERT_TRUE(packet.device >= 1 && packet.device <= 4);
    motorSeen |= packet.output && packet.device == 1 && packet.data.size() >= 9 &&
                 std::memcmp(&packet.data[packet.data.size() - 8], motor, 8) == 0;
  }
  EXPECT_TRUE(motorSeen);

  // Played back at its captured timing, each player's host decodes what it decoded live: the
  // same records in the same order, none missing, where the two runs overlap (each one's players
  // are assigned after a few cycles, whose records the library drops).
  std::vector<Decoded> live[4];
  for (int p = 0; p < 4; ++p) {
    ASSERT_GE(g_samples[p].size(), 500u) << "player " << p + 1;
    live[p].swap(g_samples[p]);
    g_counts[p] = 0;
    g_last[p] = 0;
  }
  ZAVNVirtualClear();  // the live receiver goes, the replay takes its place
  ZAVNInit();
  char error[256] = {};
  ASSERT_GT(
      ZAVNVirtualPlugReplay(path_.c_str(), ZAVN_REPLAY_CAPTURED_TIMING, 0, error, sizeof error), 0)
      << error;
  Connect();
  Eventually([&live] {
    for (int p = 0; p < 4; ++p) {
      if (g_counts[p] == 0 || g_last[p] < static_cast<std::uint32_t>(live[p].back()[0]))
        return false;
    }
    return true;
  });
  CloseAndAwaitPollEnd();
  ZAVNTerminate(0);
  for (int p = 0; p < 4; ++p) {
    const std::vector<Decoded>& replayed = g_samples[p];
    ASSERT_FALSE(replayed.empty()) << "player " << p + 1;
    const auto start = std::max(live[p].front()[0], replayed.front()[0]);
    const auto from = [start](const std::vector<Decoded>& run) {
      return std::find_if(run.begin(), run.end(), [start](auto& d) { return d[0] == start; });
    };
    const auto inLive = from(live[p]), inReplay = from(replayed);
    ASSERT_TRUE(inLive != live[p].end() && inReplay != replayed.end()) << "player " << p + 1;
    const auto overlap = std::min(live[p].end() - inLive, replayed.end() - inReplay);
    EXPECT_GE(overlap, 400) << "player " << p + 1;
    EXPECT_TRUE(std::equal(inLive, inLive + overlap, inReplay))
        << "player " << p + 1 << ": the replay decodes other records than the session";
  }

  const std::vector<std::string> shown = TsharkReports(path_);
  if (shown.empty()) GTEST_SKIP() << "no tshark here (apt-get install tshark)";
  ASSERT_EQ(shown.size(), packets.size());
  for (std::size_t k = 0; k < packets.size(); ++k) {
    ASSERT_EQ(shown[k], Hex(packets[k].data)) << "packet " << k + 1;
  }
}

}  // namespace
}  // namespace zavn::testing

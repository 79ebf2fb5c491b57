// zavn-bridge's sample to DSU packet latency: the virtual receiver's 4 transmitters at 1000
// records/s on the OS clock, the bridge's PlayerFeed on a thread of its own handing every sample
// to a DsuOutput on loopback, and a DSU client subscribed to every slot that sets each data
// packet's motion time against ZAVNTimeUs() when the packet arrives.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "dsu_output.h"
#include "player_feed.h"
#include "zavn/zavn.h"
#include "zavn/zavn_motion.h"
#include "zavn/zavn_virtual.h"

namespace zavn::bench {
namespace {

namespace dsu = bridge::dsu;

constexpr std::int32_t kRateHz = 1000;
constexpr double kMinShare = 0.9;
// Until every slot's packets flow: a player is served once named, or 1 s after its link came up.
constexpr std::int64_t kWarmUpLimitUs = 5'000'000;
// The server keeps a subscription 5 s after its last request.
constexpr std::int64_t kRequestEveryUs = 1'000'000;

// The library on the virtual receiver and the OS clock; back to its reset state at the end.
struct StreamingLibrary {
  StreamingLibrary() {
    platform::InstallSystem(&platform::OsSystem());
    previous = ZAVNVirtualSelect(1);
    ZAVNTerminate(0);
    ZAVNReset();
    ZAVNVirtualClear();
  }
  ~StreamingLibrary() {
    ZAVNTerminate(0);
    ZAVNReset();
    ZAVNVirtualClear();
    ZAVNVirtualSelect(previous);
    platform::InstallSystem(nullptr);
  }
  // False unless the four transmitters connected and the poll thread runs.
  static bool Start() {
    if (ZAVNVirtualPlugReceiver(bridge::kPlayers, kRateHz) == 0) return false;
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    for (std::int32_t player = 1; player <= bridge::kPlayers; ++player) {
      if (ZAVNGetRxStatus(player) != LINK_OK) return false;
    }
    return true;
  }
  std::int32_t previous = 0;
};

// The client's UDP socket, connected to the DSU server on loopback; a receive waits at most 50 ms.
int OpenClient(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval wait{0, 50'000};
  if (fd >= 0 && (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
                  connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Receives data packets until `untilUs` on ZAVNTimeUs's clock, asking for them every second;
// `take(slot, latencyUs)` for each, and it may end the wait by returning false.
template <typename Take>
void Listen(int fd, std::int64_t untilUs, std::int64_t& askedUs, Take take) {
  std::uint8_t packet[dsu::kMaxPacketSize + 1];
  for (std::int64_t now = ZAVNTimeUs(); now < untilUs; now = ZAVNTimeUs()) {
    if (now - askedUs >= kRequestEveryUs) {
      std::uint8_t request[dsu::kDataRequestSize] = {};  // no flags: every slot
      dsu::Seal(request, sizeof request, 1, dsu::kDataType, false);
      send(fd, request, sizeof request, 0);
      askedUs = now;
    }
    const ssize_t length = recv(fd, packet, sizeof packet, 0);
    const std::int64_t receivedUs = ZAVNTimeUs();
    if (length != static_cast<ssize_t>(dsu::kDataPacketSize)) continue;  // data packets only
    std::uint64_t timeUs = 0;
    for (int k = 7; k >= 0; --k) timeUs = timeUs << 8 | packet[dsu::kDataTimeOffset + k];
    if (!take(packet[dsu::kSlotOffset], receivedUs - static_cast<std::int64_t>(timeUs))) return;
  }
}

void BM_BridgeDsu(benchmark::State& state) {
  const StreamingLibrary library;
  if (!library.Start()) return Fail(state, "four transmitters did not connect");
  bridge::DsuOutput output;
  std::string error;
  if (!output.Open("127.0.0.1", 0, error)) return Fail(state, "the DSU server did not open");
  const int fd = OpenClient(output.Port());
  if (fd < 0) return Fail(state, "the DSU client did not open");
  const bridge::ControlProfiles profiles;
  bridge::PlayerFeed feed({&output}, profiles);
  std::atomic<bool> stop{false};
  std::thread feeding([&] { feed.Run(stop, 0, [] {}); });
  std::vector<double> latenciesMs;
  std::int64_t askedUs = 0, windowUs = 0;
  for (auto _ : state) {
    std::array<bool, dsu::kSlots> seen{};
    Listen(fd, ZAVNTimeUs() + kWarmUpLimitUs, askedUs, [&seen](int slot, std::int64_t) {
      seen[static_cast<std::size_t>(slot % dsu::kSlots)] = true;
      return !std::all_of(seen.begin(), seen.end(), [](bool s) { return s; });
    });
    const std::int64_t start = ZAVNTimeUs();
    windowUs = std::llround(RunOptions().pollSeconds * 1e6);
    latenciesMs.reserve(static_cast<std::size_t>(windowUs / 200));
    Listen(fd, start + windowUs, askedUs, [&latenciesMs](int, std::int64_t latencyUs) {
      latenciesMs.push_back(static_cast<double>(latencyUs) * 1e-3);
      return true;
    });
  }
  stop = true;
  feeding.join();
  close(fd);
  const double due = bridge::kPlayers * kRateHz * static_cast<double>(windowUs) * 1e-6;
  const auto packets = static_cast<double>(latenciesMs.size());
  if (latenciesMs.empty() || (packets < kMinShare * due && !RunOptions().smoke)) {
    return Fail(state, "fewer than 90 % of the due DSU packets arrived");
  }
  std::sort(latenciesMs.begin(), latenciesMs.end());
  const auto at = [&latenciesMs](double share) {
    return latenciesMs[static_cast<std::size_t>(share * static_cast<double>(latenciesMs.size()))];
  };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = latenciesMs.back();
  state.counters["share_of_due"] = packets / due;
}

}  // namespace

void RegisterBridgeBenchmarks() {
  benchmark::RegisterBenchmark(name::kBridgeDsu, BM_BridgeDsu)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace zavn::bench

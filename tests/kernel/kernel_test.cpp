// The library behind the kernel's hidraw nodes, against receivers modelled as USB gadgets on
// dummy_hcd (read by usbhid). Runs as root in the guest of tests/kernel/run, with a library built
// with the firmware images given as files; prints each check and "N passed, M failed".
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel/usb_receiver.h"
#include "kernel/usbmon_capture.h"
#include "platform/virtual/update_model.h"
#include "support/command_sample.h"
#include "support/links.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace {

using namespace std::chrono_literals;
using zavn::testing::kLinkCheck;
using zavn::testing::kPeriodicReports;
using zavn::testing::Links;
using zavn::testing::RxStatus;
using zavn::testing::Text;
using zavn::testing::usb::Bytes;
using zavn::testing::usb::Clock;
using zavn::testing::usb::ReceiverModel;
using zavn::testing::usb::ReceiverOptions;
using zavn::testing::usb::UsbmonCapture;

constexpr int kRateHz = 125;
// Four receivers stream at this rate, every record checked, then at the fast rate
// (ZAVN_KERNEL_RATE_HZ, else 1000, the fastest a receiver streams).
constexpr int kCheckedRateHz = 200;
int EnvInt(const char* name, int otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : otherwise;
}
// One receiver's rate, every record checked, while devices come and go and beside the update:
// the emulated host controller runs on a timer, which at 1000 a busy machine runs late.
constexpr int kSustainedRateHz = 500;
constexpr int kRecordsOnTheirWay = 3;  // sent right before the receiver is pulled out
using zavn::platform::virt::kDongleProduct;
// The update starts on the radio receiver's firmware, so that it meets every product string.
constexpr const char* kUpdateStartsAs = zavn::platform::virt::kNrfDongleProduct;
constexpr std::chrono::milliseconds kUpdateLimit = 90s;  // the whole guest has 120 s

int g_passed = 0;
int g_failed = 0;

bool Check(bool ok, const std::string& what, const std::string& detail = {}) {
  ++(ok ? g_passed : g_failed);
  std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), ok || detail.empty() ? "" : ": ",
              ok ? "" : detail.c_str());
  std::fflush(stdout);
  return ok;
}

// Polls `done` every 2 ms until it holds; false once `limit` has passed.
template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit) {
  for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(2ms)) {
    if (Clock::now() > end) return done();
  }
  return true;
}

constexpr Clock::time_point kNever{};  // no record's time: not sent, or not arrived

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}
double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[4];
  for (std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%s%02X", text.empty() ? "" : " ", byte);
    text += digits;
  }
  return text.empty() ? "nothing" : text;
}

// The counter of the receiver's last motion record.
std::uint16_t LastSample(ReceiverModel& model, int id) {
  return static_cast<std::uint16_t>(model.NextSample(id) - 1);
}

void Connect() {
  ZAVNConnectRx();
  ZAVNRoutineFunc();
}

// Empty when the values are consecutive counters ending at `last` (any for -1), else what is
// wrong; with `sent` (SentTimes) a counter the device dropped off the bus may be missing.
std::string SequenceProblem(const std::vector<std::int32_t>& values, int last,
                            const std::vector<Clock::time_point>* sent = nullptr) {
  if (values.empty()) return "no sample";
  for (std::size_t k = 1; k < values.size(); ++k) {
    auto next = static_cast<std::uint16_t>(values[k - 1] + 1);
    while (sent != nullptr && next != values[k] && (*sent)[next] == kNever) ++next;
    if (values[k] != next) {
      return "sample " + std::to_string(values[k]) + " followed " + std::to_string(values[k - 1]) +
             " (position " + std::to_string(k) + ")";
    }
  }
  if (last >= 0 && values.back() != last) {
    return "the last sample is " + std::to_string(values.back()) + ", the receiver's last " +
           std::to_string(last);
  }
  return {};
}

// The first motion value of every sample the library hands over for one player, in order.
class Samples {
 public:
  // Samples decoded before belong to an earlier collector: they are taken and dropped.
  explicit Samples(int player) : player_(player), status_(std::make_unique<PlayerStatus>()) {
    Take();
    values_.clear();
  }

  void Take() {
    // Until the first decode after a reset the count stays the caller's: start from none.
    status_->MotionCount = 0;
    ZAVNGetStatus(player_, status_.get());
    for (int k = 0; k < status_->MotionCount; ++k) values_.push_back(status_->MotionHistory[0][k]);
  }
  bool Has(std::uint16_t value) const {
    return std::find(values_.begin(), values_.end(), value) != values_.end();
  }
  const std::vector<std::int32_t>& Values() const { return values_; }
  std::string Problem(int last, const std::vector<Clock::time_point>* sent = nullptr) const {
    return SequenceProblem(values_, last, sent);
  }

 private:
  int player_;
  std::unique_ptr<PlayerStatus> status_;
  std::vector<std::int32_t> values_;
};

// Takes every collector's samples each 10 ms until `done` holds or `limit` has passed.
bool Collect(const std::vector<Samples*>& collectors, std::chrono::milliseconds limit,
             const std::function<bool()>& done = nullptr) {
  return WaitFor(
      [&] {
        for (Samples* samples : collectors) samples->Take();
        if (done && done()) return true;
        std::this_thread::sleep_for(8ms);
        return false;
      },
      limit);
}

// Streams for `duration` once samples flow, stops, and takes samples until each receiver's last
// has come, and a little longer, so that a sample handed over twice would show.
void StreamRound(ReceiverModel& model, const std::vector<std::pair<int, Samples*>>& streams,
                 std::chrono::milliseconds duration, int rateHz = kRateHz) {
  std::vector<Samples*> collectors;
  for (const auto& [id, samples] : streams) {
    model.Stream(id, rateHz);
    collectors.push_back(samples);
  }
  const auto allFlow = [&] {
    return std::all_of(collectors.begin(), collectors.end(),
                       [](const Samples* s) { return !s->Values().empty(); });
  };
  Collect(collectors, 5s, allFlow);
  Collect(collectors, duration);
  std::vector<std::pair<Samples*, std::uint16_t>> ends;
  for (const auto& [id, samples] : streams) {
    model.Stream(id, 0);
    ends.emplace_back(samples, LastSample(model, id));
  }
  Collect(collectors, 3s, [&] {
    return std::all_of(ends.begin(), ends.end(),
                       [](const auto& e) { return e.first->Has(e.second); });
  });
  Collect(collectors, 100ms);
}

// The data interface's output reports from the from-th on, less the poll thread's, are exactly the
// sample's, in order (waited for 2 s at most).
void CheckCommands(ReceiverModel& model, int id, std::size_t from) {
  std::string expected, got;
  for (const char* report : zavnCommandSample) expected += std::string(report) + "; ";
  WaitFor(
      [&] {
        got.clear();
        for (const Bytes& b : model.Outputs(id, from)) {
          if (b != kLinkCheck && std::find(kPeriodicReports.begin(), kPeriodicReports.end(), b) ==
                                     kPeriodicReports.end())
            got += Hex(b) + "; ";
        }
        return got.size() >= expected.size();
      },
      2s);
  Check(got == expected, "the receiver got each command's exact bytes, one of each length", got);
}

// While it lives, parks the poll thread in the raw-data callback, so that the test acts between
// two reads.
class PollThreadHold {
 public:
  PollThreadHold() {
    state_ = kWaiting;
    ZAVNInitGetRawDataCallBack(&Callback);
  }
  // The state outlives the hold: a call already on its way finds it released.
  ~PollThreadHold() {
    state_ = kReleased;
    state_.notify_all();
    ZAVNInitGetRawDataCallBack(nullptr);
  }
  bool AwaitParked(std::chrono::milliseconds limit) {
    return WaitFor([] { return state_ == kParked; }, limit);
  }

 private:
  enum State { kReleased, kWaiting, kParked };
  static void ZAVN_CALL Callback(int32_t, PlayerStatus*) {
    State waiting = kWaiting;
    state_.compare_exchange_strong(waiting, kParked);
    state_.wait(kParked);  // until released
  }
  static inline std::atomic<State> state_ = kReleased;
};

struct Context {
  ReceiverModel& model;
  int receiver = 0;
  int streamer = 0;  // a receiver that streams beside the update
};

const Links kSlot1Only = {LINK_OK, LINK_NO_DEVICE, LINK_NO_DEVICE, LINK_NO_DEVICE};
// Another vendor's device, of the receiver's product ID.
const ReceiverOptions kForeign{.vendor = 0xFFFE, .unusedInterfaces = false};

// Plugs another vendor's device and then a receiver; true once both have their hidraw nodes.
bool PlugForeignAndReceiver(ReceiverModel& model, int& other, int& receiver,
                            const ReceiverOptions& options = {}) {
  other = model.Plug(kForeign);
  receiver = model.Plug(options);
  return Check(
      other != 0 && receiver != 0 && model.AwaitNodes(other, 5s) && model.AwaitNodes(receiver, 5s),
      "another vendor's device and a receiver enumerate on USB, each with its hidraw nodes",
      model.Failure());
}

void DiscoveryAndCommands(Context& c) {
  int other = 0;
  if (!PlugForeignAndReceiver(c.model, other, c.receiver)) return;

  ZAVNReset();
  Connect();
  Check(RxStatus() == kSlot1Only, "connect takes the data interface alone into slot 1",
        Text(RxStatus()));

  char16_t product[ZAVN_PRODUCT_STRING_BYTES / 2];  // UTF-16LE on this machine
  std::fill(std::begin(product), std::end(product), u'?');
  const bool got = ZAVNGetProductString(1, product) == 1;
  const std::u16string string(product, std::find(product, std::end(product), u'\0'));
  Check(
      got && string == std::u16string(kDongleProduct, kDongleProduct + std::strlen(kDongleProduct)),
      "the product string is the USB device's (not the HID name), in UTF-16LE",
      got ? std::string(string.begin(), string.end()) : "refused");
  c.model.Unplug(other);

  const std::size_t from = c.model.Outputs(c.receiver).size();
  Check(ZavnSendCommandSample(), "each command returned what it should");
  CheckCommands(c.model, c.receiver, from);
}

// The receiver is pulled out while it streams, records on their way, and a new one (counting
// from 10000) plugged in: the old samples come once and in order, none after the reconnect.
void UnplugAndReplug(Context& c) {
  Samples samples(1);
  c.model.Stream(c.receiver, kRateHz);
  Collect({&samples}, 3s, [&] { return samples.Values().size() >= 10; });
  {
    // The poll thread's next read takes the last records and meets the removal.
    PollThreadHold hold;
    Check(hold.AwaitParked(2s), "the poll thread parks in the raw-data callback");
    c.model.Unplug(c.receiver, kRecordsOnTheirWay);
  }
  const bool lost = WaitFor(
      [&] {
        samples.Take();
        return ZAVNGetRxStatus(1) == LINK_NO_DEVICE && ZAVNGetTxStatus(1) == LINK_NO_DEVICE;
      },
      3s);
  Check(lost, "unplugged (a USB disconnect): player 1 reads 6/6",
        std::to_string(ZAVNGetRxStatus(1)) + "/" + std::to_string(ZAVNGetTxStatus(1)));
  samples.Take();
  const std::size_t beforeReconnect = samples.Values().size();
  Check(samples.Problem(-1).empty(), "the samples before the loss came once and in order",
        samples.Problem(-1));

  // From here on a receiver has its data interface alone: four receivers need the gadget
  // driver's four HID functions.
  c.receiver = c.model.Plug({.unusedInterfaces = false, .firstSample = 10000});
  Check(c.receiver != 0 && c.model.AwaitNodes(c.receiver, 5s), "plugged in again",
        c.model.Failure());
  Connect();
  StreamRound(c.model, {{c.receiver, &samples}}, 500ms);
  // A stale sample (below 10000) would break the sequence that ends at the new receiver's last.
  const std::vector<std::int32_t> after(
      samples.Values().begin() + static_cast<std::ptrdiff_t>(beforeReconnect),
      samples.Values().end());
  const std::string problem = SequenceProblem(after, LastSample(c.model, c.receiver));
  Check(problem.empty() && after.front() >= 10000,
        "after the reconnect only the new receiver's samples come, every one once and in order",
        problem.empty() ? "sample " + std::to_string(after.front()) : problem);
}

// When the callback had each sample, by its counter (the receivers count in ranges of their own).
std::atomic<Clock::time_point> g_arrived[1 << 16];

void ZAVN_CALL NoteArrival(int32_t, PlayerStatus* status) {
  g_arrived[status->Motion[0] & 0xFFFF] = Clock::now();
}

// Report written in the guest to raw-data callback, over the samples of `ids`.
std::string LatencyFigures(ReceiverModel& model, const std::vector<int>& ids) {
  std::vector<double> ms;
  for (const int id : ids) {
    const std::vector<Clock::time_point> sent = model.SentTimes(id);
    for (std::size_t v = 0; v < sent.size(); ++v) {
      const Clock::time_point arrived = g_arrived[v];
      if (arrived != kNever && sent[v] != kNever) ms.push_back(Ms(arrived - sent[v]));
    }
  }
  if (ms.empty()) return "no sample";
  std::sort(ms.begin(), ms.end());
  char text[96];
  std::snprintf(text, sizeof text, "p50 %.2f ms, p99 %.2f ms over %zu samples", ms[ms.size() / 2],
                ms[ms.size() * 99 / 100], ms.size());
  return text;
}

// The receivers beside the first count from these (the first from 10000, below them all).
constexpr std::uint16_t kExtraFirstSamples[] = {36000, 46000, 56000};
constexpr std::uint16_t kPluggedBackFirstSample = 62000;
constexpr auto kPhase = 3s;               // each phase of FourReceivers, at least
constexpr double kLongestSilenceMs = 10;  // of player 1 at the raw-data callback
// With the hotplug on: from a bind to the first record, and from a disconnect to LINK_NO_DEVICE.
constexpr double kArrivalLimitMs = 1000;
constexpr double kRemovalLimitMs = 100;

// Runs `act` while player 1 (receiver `id`) streams, for kPhase at least, then checks its records
// since the previous phase: each one put on the bus came once and in order, and no silence at
// the callback, less the bus's and the guest's pauses, reached kLongestSilenceMs.
void StreamWhile(ReceiverModel& model, int id, Samples& player1, const std::string& name,
                 const std::function<void()>& act) {
  const std::size_t from = player1.Values().size();
  std::atomic<bool> acted = false;
  std::thread taker([&] { Collect({&player1}, 60s, [&] { return acted.load(); }); });
  // The guest's own pauses (under emulation on a busy machine it stands still now and then), as
  // a thread waking every 2 ms sees them.
  std::vector<Clock::time_point> beats;
  std::thread heartbeat([&] {
    for (; !acted; std::this_thread::sleep_for(2ms)) beats.push_back(Clock::now());
  });
  const auto start = Clock::now();
  act();
  std::this_thread::sleep_until(start + kPhase);
  acted = true;
  taker.join();
  heartbeat.join();
  const auto end = Clock::now();
  const auto pauseMs = [&](Clock::time_point after, Clock::time_point before) {
    Clock::duration longest{};
    auto last = after;
    for (auto beat = std::upper_bound(beats.begin(), beats.end(), after);
         beat != beats.end() && *beat < before; last = *beat++) {
      longest = std::max(longest, *beat - last);
    }
    return Ms(std::max(longest, before - last));
  };
  // From the previous phase's last record on.
  const auto& all = player1.Values();
  const std::vector<std::int32_t> values(
      all.begin() + static_cast<std::ptrdiff_t>(from - (from > 0)), all.end());
  const std::vector<Clock::time_point> sent = model.SentTimes(id);
  // The host took record v off the bus once the gadget took v + 1 (or soon before, when v + 1
  // came later): a silence of the bus (the emulated host controller) is not the library's.
  const auto onBus = [&](std::int32_t v) {
    const Clock::time_point next = sent[static_cast<std::uint16_t>(v + 1)];
    return next != kNever ? next : sent[static_cast<std::size_t>(v)];
  };
  double silence = 0, unexplained = 0, bus = 0;
  for (std::size_t k = 1; k < values.size(); ++k) {
    const Clock::time_point before = g_arrived[values[k - 1]], at = g_arrived[values[k]];
    const double gap = Ms(at - before);
    silence = std::max(silence, gap);
    if (gap <= 10) continue;
    const Clock::time_point taken = onBus(values[k]);
    const double busGap = taken == kNever ? 0 : Ms(taken - before);
    bus = std::max(bus, busGap);
    unexplained = std::max(unexplained, gap - std::max(busGap, pauseMs(before, at)));
  }
  long dropped = 0, lost = 0;
  if (!values.empty()) {
    lost = values.back() - values.front() + 1 - std::ssize(values);
    for (std::int32_t v = values.front(); v < values.back(); ++v)
      dropped += sent[static_cast<std::size_t>(v)] == kNever;
  }
  char figures[400];
  std::snprintf(figures, sizeof figures,
                " (%.1f s): player 1 lost %ld of %zd records (%ld dropped at the device), longest "
                "silence %.1f ms, %.1f ms of it beyond the bus's (%.1f ms) and the guest's own "
                "pauses (longest %.1f ms)",
                Seconds(end - start), lost, std::ssize(values) + lost, dropped, silence,
                unexplained, bus, pauseMs(start, end));
  const std::string problem = SequenceProblem(values, -1, &sent);
  Check(problem.empty() && unexplained < kLongestSilenceMs, name + figures, problem);
}

// While player 1 streams at kSustainedRateHz, devices come and go in phases (a search holds no
// poll thread: player 1 loses no record, is never silent for long); then four players stream,
// three are pulled out and one is plugged back.
void FourReceivers(Context& c) {
  for (auto& arrived : g_arrived) arrived = kNever;
  ZAVNInitGetRawDataCallBack(NoteArrival);
  const int fastHz = EnvInt("ZAVN_KERNEL_RATE_HZ", 1000);
  c.model.Stream(c.receiver, kSustainedRateHz);
  Samples player1(1);
  Collect({&player1}, 3s, [&] { return !player1.Values().empty(); });
  std::vector<int> ids = {c.receiver};
  // A receiver of the data interface alone, counting from `first`, streaming at the checked rate.
  const auto plug = [&](std::uint16_t first) {
    const int id = c.model.Plug({.unusedInterfaces = false, .firstSample = first});
    c.model.Stream(id, kCheckedRateHz);
    return id;
  };
  // Plugs one with the hotplug on; the ms from its bind to its first record (-1: none in 5 s).
  const auto timedPlug = [&](std::uint16_t first, int& id) {
    const auto plugged = Clock::now();
    id = plug(first);
    Clock::time_point at = kNever;
    WaitFor(
        [&] {
          for (int k = 0; k < 1000 && at == kNever; ++k) at = g_arrived[(first + k) & 0xFFFF];
          return at != kNever;
        },
        5s);
    return at == kNever ? -1 : Ms(at - plugged);
  };
  double arrivals[2] = {};
  const std::string atRate = " (" + std::to_string(kSustainedRateHz) + " a second)";
  const std::pair<std::string, std::function<void()>> phases[] = {
      {"nothing plugged" + atRate, [] {}},
      {"another vendor's device plugged and pulled 3 times, a connect after each change",
       [&] {
         for (int k = 0; k < 3; ++k) {
           const int other = c.model.Plug(kForeign);
           c.model.AwaitNodes(other, 5s);
           Connect();
           c.model.Unplug(other);
           Connect();
         }
       }},
      {"a receiver plugged and connected",
       [&] {
         ids.push_back(plug(kExtraFirstSamples[0]));
         c.model.AwaitNodes(ids.back(), 5s);
         Connect();
       }},
      {"hotplug on, no call of the host: another vendor's device plugged and pulled, two "
       "receivers plugged",
       [&] {
         Check(ZAVNSwitchHotplug(1) == 1, "the hotplug switches on");
         const int other = c.model.Plug(kForeign);
         c.model.AwaitNodes(other, 5s);
         c.model.Unplug(other);
         for (int k = 1; k <= 2; ++k)
           arrivals[k - 1] = timedPlug(kExtraFirstSamples[k], ids.emplace_back());
       }},
  };
  for (const auto& [name, act] : phases) StreamWhile(c.model, c.receiver, player1, name, act);
  c.model.Stream(c.receiver, 0);
  char text[128];
  std::snprintf(text, sizeof text, "after %.0f and %.0f ms", arrivals[0], arrivals[1]);
  Check(RxStatus() == Links{LINK_OK, LINK_OK, LINK_OK, LINK_OK} &&
            std::all_of(std::begin(arrivals), std::end(arrivals),
                        [](double ms) { return ms >= 0 && ms < kArrivalLimitMs; }),
        std::string("the hotplug takes the two plugged in as players 3 and 4, each streaming ") +
            text + " from its bind",
        Text(RxStatus()));

  // At the checked rate every record comes once and in order; at the fast rate what the USB path
  // loses under emulation (the host controller is a timer) is measured, not asserted.
  for (const int rate : {kCheckedRateHz, fastHz}) {
    Samples players[] = {Samples(1), Samples(2), Samples(3), Samples(4)};
    std::vector<std::pair<int, Samples*>> streams;
    for (int k = 0; k < 4; ++k) streams.push_back({ids[k], &players[k]});
    for (auto& arrived : g_arrived) arrived = kNever;
    StreamRound(c.model, streams, 2s, rate);
    std::printf(
        "     %d records a second, report written to raw-data callback through hidraw: %s\n", rate,
        LatencyFigures(c.model, ids).c_str());
    for (int p = 0; p < 4; ++p) {
      const std::string problem = players[p].Problem(LastSample(c.model, ids[p]));
      const std::string what = "player " + std::to_string(p + 1) + " has " +
                               std::to_string(players[p].Values().size()) + " of its receiver's " +
                               std::to_string(rate) + " records a second, each once and in order";
      if (rate == kCheckedRateHz)
        Check(problem.empty(), what, problem);
      else
        std::printf("     %s: %s\n", what.c_str(), problem.empty() ? "none lost" : problem.c_str());
    }
  }

  // Pulled out, players 4 to 2 are LINK_NO_DEVICE at once (measured from the unplug's start);
  // one plugged back takes slot 2 and stays for the update.
  std::string removals;
  bool quick = true;
  for (int p = 4; p >= 2; --p) {
    const auto pulled = Clock::now();
    std::thread pull([&] { c.model.Unplug(ids[p - 1]); });
    const bool lost = WaitFor([p] { return ZAVNGetRxStatus(p) == LINK_NO_DEVICE; }, 1s);
    const double ms = Ms(Clock::now() - pulled);
    pull.join();
    quick = quick && lost && ms < kRemovalLimitMs;
    removals += (removals.empty() ? "" : ", ") + std::to_string(static_cast<int>(ms)) + " ms";
  }
  Check(quick, "with the hotplug each one pulled out is LINK_NO_DEVICE after " + removals);
  const double back = timedPlug(kPluggedBackFirstSample, c.streamer);
  Samples again(2);
  StreamRound(c.model, {{c.streamer, &again}}, 500ms, kCheckedRateHz);
  const int last = LastSample(c.model, c.streamer);
  Check(RxStatus() == Links{LINK_OK, LINK_OK, LINK_NO_DEVICE, LINK_NO_DEVICE} &&
            again.Problem(last).empty() && back >= 0 && back < kArrivalLimitMs,
        "one plugged back takes slot 2, streaming after " + std::to_string(static_cast<int>(back)) +
            " ms, each record once and in order",
        Text(RxStatus()) + " " + again.Problem(last));
  ZAVNInitGetRawDataCallBack(nullptr);
}

void FirmwareUpdate(Context& c) {
  if (!Check(ZAVNFirmwareImagesArePlaceholders() == 0,
             "the library carries the images given as files",
             "a placeholder build updates no receiver behind hidraw: configure with "
             "ZAVN_FIRMWARE_HEX and ZAVN_FIRMWARE_REPORT_TABLE"))
    return;
  ZAVNReset();
  c.model.Unplug(c.receiver);
  const int id = c.receiver = c.model.Plug({.product = kUpdateStartsAs, .firstSample = 50000});
  if (!Check(id != 0 && c.model.AwaitNodes(id, 5s), std::string("a receiver as ") + kUpdateStartsAs,
             c.model.Failure()))
    return;
  c.model.Stream(id, kRateHz);

  // Beside it a receiver streams; the slots follow the nodes' order: the product string tells
  // which slot the update runs on.
  Connect();
  std::int32_t slot = 1;
  std::uint8_t slotProduct[ZAVN_PRODUCT_STRING_BYTES] = {};
  if (ZAVNGetProductString(2, slotProduct) == 1 && slotProduct[0] == kUpdateStartsAs[0]) slot = 2;
  Samples beside(3 - slot);
  c.model.Stream(c.streamer, kSustainedRateHz);

  // The hotplug takes the receiver again after each re-enumeration.
  ZAVNSwitchHotplug(1);
  const auto start = Clock::now();
  ZAVNBootLoaderFSM(slot, ZAVN_UPDATE_RUN);
  std::int32_t progress = 0;
  Collect({&beside}, kUpdateLimit,
          [&] { return (progress = ZAVNGetBootloaderStatus(slot)) >= ZAVN_UPDATE_DONE; });
  ZAVNBootLoaderFSM(slot, ZAVN_UPDATE_STOP);
  const std::string after = std::to_string(std::lround(Seconds(Clock::now() - start))) + " s";
  Check(progress == ZAVN_UPDATE_DONE, "the update reaches 100 after " + after,
        "stopped at " + std::to_string(progress));
  c.model.Stream(c.streamer, 0);
  const std::uint16_t last = LastSample(c.model, c.streamer);
  Collect({&beside}, 3s, [&] { return beside.Has(last); });
  const std::vector<Clock::time_point> sent = c.model.SentTimes(c.streamer);
  Check(beside.Problem(last, &sent).empty(),
        "the receiver beside it had its " + std::to_string(kSustainedRateHz) +
            " records a second taken meanwhile, each once and in order (" +
            std::to_string(beside.Values().size()) + " samples)",
        beside.Problem(last, &sent));
}

// A record as the raw-data callback had it: the six motion values and the buttons.
struct Record {
  std::array<std::int32_t, ZAVN_MOTION_CHANNELS> motion;
  std::array<std::uint8_t, ZAVN_BUTTON_COUNT> buttons;
  bool operator==(const Record&) const = default;
};
std::mutex g_recordsMutex;
std::vector<Record> g_records;

void ZAVN_CALL KeepRecord(int32_t, PlayerStatus* status) {
  Record record;
  std::copy(std::begin(status->Motion), std::end(status->Motion), record.motion.begin());
  std::copy(std::begin(status->Buttons), std::end(status->Buttons), record.buttons.begin());
  std::lock_guard guard(g_recordsMutex);
  g_records.push_back(record);
}

std::vector<Record> TakeRecords() {
  std::lock_guard guard(g_recordsMutex);
  return std::exchange(g_records, {});
}

bool LastRecordIs(std::int32_t counter) {
  std::lock_guard guard(g_recordsMutex);
  return !g_records.empty() && g_records.back().motion[0] == counter;
}

constexpr const char* kCaptureFile = "/tmp/kernel-replay.pcapng";  // kept by tests/kernel/run
constexpr auto kLiveStream = 2500ms;
constexpr std::uint16_t kReplayFirstSample = 20000;
// The replay may miss the live records of its player's assignment (20 poll cycles, longer on a
// busy emulated machine), and none after.
constexpr auto kReplayAssignment = 300ms;

// A receiver's USB traffic, captured through usbmon by dumpcap while the library took its records
// through hidraw, played back by the virtual receiver at its captured timing: the callback gets
// the same records in the same order, from the first counter both runs have.
void CaptureReplay(Context& c) {
  ZAVNReset();
  // The receivers from before go, to leave room for one with all three interfaces.
  c.model.Unplug(c.receiver);
  c.model.Unplug(c.streamer);
  const int bus = c.model.NextBus();
  UsbmonCapture capture(bus, kCaptureFile);
  if (capture.Missing()) {
    std::printf("     skipped: no dumpcap in the guest (apt-get install tshark)\n");
    return;
  }
  if (!Check(capture.Running(), "dumpcap captures usbmon" + std::to_string(bus), capture.Output()))
    return;
  const int id = c.model.Plug({.firstSample = kReplayFirstSample});
  const bool plugged = id != 0 && c.model.AwaitNodes(id, 5s);
  TakeRecords();
  ZAVNInitGetRawDataCallBack(KeepRecord);
  Connect();
  const bool connected = ZAVNGetRxStatus(1) == LINK_OK;
  c.model.Stream(id, kSustainedRateHz);
  std::this_thread::sleep_for(kLiveStream);
  c.model.Stream(id, 0);
  const auto last = LastSample(c.model, id);
  WaitFor([&] { return LastRecordIs(last); }, 2s);
  c.model.Unplug(id);
  const bool stopped = capture.Stop();
  const std::vector<Record> live = TakeRecords();
  Check(plugged && connected && stopped && !live.empty(),
        "a receiver streamed through hidraw on bus " + std::to_string(bus) + " while dumpcap " +
            "captured it (" + std::to_string(capture.Captured()) + " packets, " +
            std::to_string(capture.Dropped()) + " dropped)",
        c.model.Failure() + " " + capture.Output());

  ZAVNTerminate(0);
  ZAVNReset();
  ZAVNVirtualSelect(1);
  ZAVNVirtualClear();
  char error[256] = {};
  const int replay =
      ZAVNVirtualPlugReplay(kCaptureFile, ZAVN_REPLAY_CAPTURED_TIMING, 0, error, sizeof error);
  Connect();
  Check(replay != 0 && RxStatus() == kSlot1Only,
        "the replay finds the capture's one data interface, which connect takes into slot 1",
        replay == 0 ? error : Text(RxStatus()));
  // Until its last record has come, or the replay has ended (nothing for 500 ms).
  WaitFor([&] { return LastRecordIs(last) || ZAVNGetTxStatus(1) == LINK_TIMEOUT; },
          kLiveStream + 5s);
  const std::vector<Record> replayed = TakeRecords();

  // Aligned at the first counter both runs have (the counters rise).
  const auto first = [](const std::vector<Record>& records) {
    return records.empty() ? -1 : records.front().motion[0];
  };
  const auto from = [common = std::max(first(live), first(replayed))](const auto& records) {
    return std::find_if(records.begin(), records.end(),
                        [&](const Record& r) { return r.motion[0] >= common; });
  };
  const auto liveFrom = from(live), replayedFrom = from(replayed);
  const auto overlap =
      static_cast<std::size_t>(std::min(live.end() - liveFrom, replayed.end() - replayedFrom));
  const auto [differs, replayedDiffers] =
      std::mismatch(liveFrom, liveFrom + static_cast<std::ptrdiff_t>(overlap), replayedFrom);
  const auto same = static_cast<std::size_t>(differs - liveFrom);
  char figures[192];
  std::snprintf(figures, sizeof figures,
                "%zu records live (from %d), %zu replayed (from %d), %zu the same in order",
                live.size(), first(live), replayed.size(), first(replayed), same);
  const auto mayMiss = static_cast<std::size_t>(kSustainedRateHz * kReplayAssignment / 1s);
  Check(same == overlap && live.size() - overlap <= mayMiss,
        std::string("the replay at the captured timing hands the callback the live run's "
                    "records: ") +
            figures,
        same < overlap ? "the next differs: counter " + std::to_string(differs->motion[0]) +
                             " live, " + std::to_string(replayedDiffers->motion[0]) + " replayed"
                       : "too short an overlap");

  ZAVNInitGetRawDataCallBack(nullptr);  // the last case: the virtual receiver stays selected
}

// Runs a Windows host (zavn_wine_host of tests/windows/windows_host.c, which checks its own flow)
// under Wine and checks the commands that reached the receiver. The host asks through files in
// /tmp, each removed once done: zavn-stream starts the records (ZAVN_WINE_RATE_HZ a second; only
// once it has connected, as Wine's HID bus, reading a device from its arrival, fell behind),
// zavn-pause stops them, zavn-plug plugs a receiver of the data interface alone, streaming, in
// place of the other vendor's device (four HID functions at most), zavn-unplug pulls it. Wine
// names a device by usbhid's HID name, "maker product": these receivers carry no maker string.
void RunUnderWine(ReceiverModel& model, int& other, int receiver, const char* command) {
  const std::size_t from = model.Outputs(receiver).size();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    // Into a file: on the console Wine would draw with terminal escapes.
    if (!freopen("/tmp/wine-host.log", "w", stdout) || dup2(fileno(stdout), 2) < 0) _exit(127);
    execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
  }
  const int rate = EnvInt("ZAVN_WINE_RATE_HZ", 100);
  int plugged = 0;
  const auto asked = [](const char* file, const std::function<void()>& act) {
    if (access(file, F_OK) == 0) act(), unlink(file);
  };
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    asked("/tmp/zavn-stream", [&] { model.Stream(receiver, rate); });
    asked("/tmp/zavn-pause", [&] { model.Stream(receiver, 0); });
    asked("/tmp/zavn-plug", [&] {
      model.Stream(receiver, 0);
      model.Unplug(std::exchange(other, 0));
      plugged = model.Plug({.maker = "", .unusedInterfaces = false, .firstSample = 30000});
      model.AwaitNodes(plugged, 5s);
      model.Stream(plugged, rate);
    });
    asked("/tmp/zavn-unplug", [&] { model.Unplug(std::exchange(plugged, 0)); });
    std::this_thread::sleep_for(10ms);
  }
  if (plugged != 0) model.Unplug(plugged);
  if (other == 0) model.AwaitNodes(other = model.Plug(kForeign), 5s);
  model.Stream(receiver, 0);
  if (FILE* log = std::fopen("/tmp/wine-host.log", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, log)) std::printf("     %s", line);
    std::fclose(log);
  }
  CheckCommands(model, receiver, from);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, std::string("the host passed: ") + command);
}

}  // namespace

int main(int argc, char** argv) {
  utsname system{};
  uname(&system);
  std::printf("zavn_kernel_test on Linux %s\n", system.release);
  const auto start = Clock::now();

  ReceiverModel model;
  std::string reason;
  if (!Check(model.Usable(reason), "USB gadgets can be made (configfs, dummy_hcd)", reason)) {
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return 1;
  }
  const auto timed = [](const char* name, const std::function<void()>& run) {
    const auto caseStart = Clock::now();
    std::printf("== %s\n", name);
    std::fflush(stdout);
    run();
    std::printf("   (%.1f s)\n", Seconds(Clock::now() - caseStart));
  };
  if (argc > 2 && std::strcmp(argv[1], "--wine") == 0) {
    // --wine COMMAND...: each a Windows host, run with the same two devices plugged.
    int other = 0, receiver = 0;
    if (PlugForeignAndReceiver(model, other, receiver, {.maker = ""})) {
      for (int k = 2; k < argc; ++k)
        timed(argv[k], [&] { RunUnderWine(model, other, receiver, argv[k]); });
    }
  } else {
    ZAVNVirtualSelect(0);
    ZAVNInit();
    Context context{model};
    const std::pair<const char*, void (*)(Context&)> cases[] = {
        {"discovery, the product string and commands", DiscoveryAndCommands},
        {"unplugging and plugging in again", UnplugAndReplug},
        {"four receivers, three plugged in while one streams", FourReceivers},
        {"a firmware update", FirmwareUpdate},
        {"a USB capture of dumpcap replayed through the virtual receiver", CaptureReplay},
    };
    for (const auto& [name, run] : cases) timed(name, [&] { run(context); });
    for (int player = 1; player <= 4; ++player) ZAVNDisconnectRx(player);
    ZAVNTerminate(0);
  }
  Check(model.Failure().empty(), "the model's own gadget I/O never failed", model.Failure());
  std::printf("   (%.1f s in all)\n", Seconds(Clock::now() - start));
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}

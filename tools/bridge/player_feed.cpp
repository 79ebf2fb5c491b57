#include "player_feed.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "words.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_motion.h"

namespace bridge {
namespace {

using Clock = std::chrono::steady_clock;

// The links, serial numbers and controls are looked at this often while samples flow, and at
// least every kIdleWait when none do.
constexpr auto kLookEvery = std::chrono::milliseconds(10);
constexpr auto kIdleWait = std::chrono::milliseconds(100);
constexpr int kAskSerialEveryLooks = 20;
// A player is served once its serial number is known (its MAC comes from it), or this long
// after its link came up without one.
constexpr auto kSerialGrace = std::chrono::seconds(1);

// Woken by the library's raw-data callback, on the poll thread, after each motion record.
struct Waker {
  std::mutex lock;  // a leaf: held only to set or take `woken`
  std::condition_variable changed;
  bool woken = false;
};
Waker& TheWaker() {
  static Waker* waker = new Waker;  // never destroyed: the poll thread may call in at exit
  return *waker;
}

void ZAVN_CALL Wake(int32_t, PlayerStatus*) {
  Waker& waker = TheWaker();
  {
    const std::lock_guard<std::mutex> guard(waker.lock);
    waker.woken = true;
  }
  waker.changed.notify_one();
}

}  // namespace

std::array<std::uint8_t, 6> MacOf(const std::string& serial, int player) {
  const std::string name = serial.empty() ? "player " + std::to_string(player) : serial;
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (const char c : name) {
    hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3u;
  }
  std::array<std::uint8_t, 6> mac{};
  for (std::size_t k = 0; k < mac.size(); ++k) mac[k] = static_cast<std::uint8_t>(hash >> (8 * k));
  mac[0] = static_cast<std::uint8_t>((mac[0] & 0xFC) | 0x02);  // locally administered, unicast
  return mac;
}

PlayerFeed::PlayerFeed(std::vector<Output*> outputs, const ControlProfiles& profiles)
    : outputs_(std::move(outputs)),
      profiles_(profiles),
      status_(std::make_unique<PlayerStatus>()),
      samples_(ZAVN_MOTION_RING) {
  for (PlayerControls& controls : controls_) controls.mapping = &profiles_.fallback;
  ZAVNInitGetRawDataCallBack(Wake);
}

PlayerFeed::~PlayerFeed() {
  ZAVNInitGetRawDataCallBack(nullptr);
}

void PlayerFeed::Run(const std::atomic<bool>& stop, double seconds,
                     const std::function<void()>& look) {
  Waker& waker = TheWaker();
  const auto start = Clock::now();
  auto lastLook = start - kIdleWait;
  std::array<Clock::time_point, kPlayers> linkedSince{};
  int looks = 0;
  while (!stop) {
    {
      std::unique_lock<std::mutex> lock(waker.lock);
      waker.changed.wait_for(lock, kIdleWait, [&waker] { return waker.woken; });
      waker.woken = false;
    }
    const auto now = Clock::now();
    if (now - lastLook >= kLookEvery) {
      lastLook = now;
      look();
      LookAtPlayers(looks++ % kAskSerialEveryLooks == 0, now, linkedSince);
    }
    HandOnSamples();
    if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
  }
}

void PlayerFeed::LookAtPlayers(bool askSerials, Clock::time_point now,
                               std::array<Clock::time_point, kPlayers>& linkedSince) {
  for (int player = 1; player <= kPlayers; ++player) {
    PlayerState state;
    state.link = ZAVNGetRxStatus(player);
    const bool linked = state.link == LINK_OK;
    if (!linked) {
      linkedSince[player - 1] = {};
    } else {
      if (linkedSince[player - 1] == Clock::time_point{}) linkedSince[player - 1] = now;
      ZAVNGetStatus(player, status_.get());
      state.serial = tools::Printable(status_->SerialBlock, sizeof status_->SerialBlock);
      PlayerControls& controls = controls_[player - 1];
      controls.mapping = &profiles_.For(player, state.serial);
      controls.sticks = SticksOf(status_->Extension, *controls.mapping);
      if (state.serial.empty() && askSerials) ZAVNAskSerialNumber(player, 0, nullptr, 1);
      state.connected = !state.serial.empty() || now - linkedSince[player - 1] >= kSerialGrace;
    }
    if (state.connected) state.mac = MacOf(state.serial, player);
    if (state == states_[player - 1]) continue;
    states_[player - 1] = state;
    for (Output* output : outputs_) output->PlayerChanged(player, state);
  }
}

void PlayerFeed::HandOnSamples() {
  for (int player = 1; player <= kPlayers; ++player) {
    const std::int32_t count =
        ZAVNReadMotion(player, samples_.data(), static_cast<std::int32_t>(samples_.size()));
    if (!states_[player - 1].connected) continue;  // read all the same: not handed on late
    for (std::int32_t k = 0; k < count; ++k) {
      for (Output* output : outputs_) {
        output->Sample(player, samples_[static_cast<std::size_t>(k)], controls_[player - 1]);
      }
    }
  }
}

}  // namespace bridge

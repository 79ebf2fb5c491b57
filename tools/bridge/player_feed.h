// The players as zavn-bridge serves them: each one's link, serial number and MAC, and its motion
// samples as the library decodes them, handed to the outputs (the DSU server, the gamepads) on
// the bridge's own thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control_profile.h"
#include "controls.h"
#include "zavn/zavn.h"

namespace bridge {

inline constexpr int kPlayers = 4;

struct PlayerState {
  std::int32_t link = LINK_NO_DEVICE;  // ZAVNGetRxStatus's
  bool connected = false;  // served: the link is LINK_OK and the transmitter named (or awaited)
  std::string serial;      // the transmitter's serial number, "" until it has answered
  std::array<std::uint8_t, 6> mac{};  // stable per transmitter: from its serial number
  bool operator==(const PlayerState&) const = default;
};

// What goes with a player's samples: its transmitter's mapping of the buttons and extension,
// and the sticks and triggers of its latest extension triple through it.
struct PlayerControls {
  const ControlMapping* mapping = nullptr;
  StickState sticks;
};

class Output {
 public:
  virtual ~Output() = default;
  // Player 1..4 came, went or was named.
  virtual void PlayerChanged(int player, const PlayerState& state) = 0;
  // One motion sample of a connected player, in order.
  virtual void Sample(int player, const ZAVNMotionSample& sample,
                      const PlayerControls& controls) = 0;
};

// A locally administered unicast MAC from the serial number: the same transmitter has the same
// MAC wherever it plays; one without a serial number yet gets one from its player number.
std::array<std::uint8_t, 6> MacOf(const std::string& serial, int player);

class PlayerFeed {
 public:
  // Registers the library's raw-data callback, which wakes the feed, until destroyed. The
  // controls of each transmitter are mapped as `profiles` says.
  PlayerFeed(std::vector<Output*> outputs, const ControlProfiles& profiles);
  ~PlayerFeed();
  PlayerFeed(const PlayerFeed&) = delete;
  PlayerFeed& operator=(const PlayerFeed&) = delete;

  // Serves until `stop` is set or `seconds` (when above 0) have passed: wakes at each record the
  // library decodes and hands the new samples on; looks at the links and the controls between.
  // `look` runs at each look (the receiver link's upkeep).
  void Run(const std::atomic<bool>& stop, double seconds, const std::function<void()>& look);

  const PlayerState& State(int player) const { return states_[player - 1]; }

 private:
  using Clock = std::chrono::steady_clock;
  void LookAtPlayers(bool askSerials, Clock::time_point now,
                     std::array<Clock::time_point, kPlayers>& linkedSince);
  void HandOnSamples();

  std::vector<Output*> outputs_;
  const ControlProfiles& profiles_;
  std::array<PlayerState, kPlayers> states_{};
  std::array<PlayerControls, kPlayers> controls_{};
  std::unique_ptr<PlayerStatus> status_;
  std::vector<ZAVNMotionSample> samples_;
};

}  // namespace bridge

// The DSU server: answers clients' version and controller-information requests and sends each
// subscribed client the data packets of the slots it asked for.
//
// A client (an address and port) subscribes with data requests: to every slot, to one slot, or
// to a controller's MAC. Each kind of registration lasts 5 s from that client's last request of
// it; a client with none left is dropped. The table holds at most kMaxClients clients: a new one
// displaces the one heard from least recently, so a flood from many ports cannot grow memory.
// Bad packets (see dsu::Verdict) are counted and never answered.
//
// Locks: mutex_ guards slots_, clients_ and counters_, everything that requests and SendData read
// or change; packets are built under it and sent after it is released. socketLock_ is held shared
// for each send and taken exclusively by Close() to release the socket, so a send never meets a
// released (or reused) descriptor. Only the request thread receives; Close() joins it first.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "dsu_protocol.h"
#include "udp_socket.h"

namespace bridge {

struct DsuController {
  bool connected = false;
  std::array<std::uint8_t, 6> mac{};
};

class DsuServer {
 public:
  static constexpr std::int64_t kExpiryUs = 5'000'000;
  static constexpr std::size_t kMaxClients = 32;
  static constexpr std::size_t kMacsPerClient = dsu::kSlots;

  // Where packets go instead of the socket (tests).
  using SendFunction =
      std::function<void(const Endpoint& to, const std::uint8_t* bytes, std::size_t length)>;

  // nowUs: the clock for expiry (defaults to a steady clock); tests inject their own.
  explicit DsuServer(std::function<std::int64_t()> nowUs = {}, SendFunction send = {});
  ~DsuServer();  // Close()
  DsuServer(const DsuServer&) = delete;
  DsuServer& operator=(const DsuServer&) = delete;

  // Binds and starts the request thread; false with the reason in error.
  bool Open(const std::string& address, std::uint16_t port, std::string& error);
  std::uint16_t Port() const;
  // Stops the request thread (within its 200 ms receive timeout) and releases the socket.
  void Close();

  // slot 0..3 = players 1..4.
  void SetController(int slot, const DsuController& controller);
  // One data packet to each client subscribed to that slot (by all, by slot or by its MAC), each
  // numbered by that client's own counter (0, 1, 2, ...); nothing while the slot is not connected.
  // Thread-safe against the request thread.
  void SendData(int slot, const DsuPad& pad);

  struct Counters {
    std::uint64_t requests = 0;        // valid requests handled
    std::uint64_t badPackets = 0;      // ignored
    std::uint64_t dataPackets = 0;     // data packets sent
    std::uint64_t clientsEvicted = 0;  // dropped: expired, or displaced from a full table
    std::size_t clients = 0;           // in the table now
  };
  Counters Read() const;

  // The request thread's handling of one datagram, on its own for tests without a socket.
  void HandleRequest(const std::uint8_t* bytes, std::size_t length, const Endpoint& from);

 private:
  static constexpr std::int64_t kNever = INT64_MIN;
  struct Client {
    Endpoint endpoint;
    std::int64_t heardUs = kNever;
    std::uint32_t counter = 0;  // its next data packet's number
    std::int64_t allUs = kNever;
    std::array<std::int64_t, dsu::kSlots> slotUs;
    std::array<dsu::Mac, kMacsPerClient> macs{};
    std::array<std::int64_t, kMacsPerClient> macUs;
    Client() {
      slotUs.fill(kNever);
      macUs.fill(kNever);
    }
  };
  struct Outgoing {
    Endpoint to;
    dsu::Packet packet;
  };

  static bool Active(std::int64_t sinceUs, std::int64_t nowUs) {
    return sinceUs != kNever && nowUs - sinceUs < kExpiryUs;
  }
  bool Alive(const Client& client, std::int64_t nowUs) const;
  bool Subscribed(const Client& client, int slot, std::int64_t nowUs) const;
  dsu::SlotHeader Header(int slot) const;
  Client& Register(const Endpoint& from, std::int64_t nowUs);  // under mutex_
  void Send(const Outgoing* packets, std::size_t count);       // without mutex_
  void Run();

  const std::function<std::int64_t()> nowUs_;
  const SendFunction send_;
  std::uint32_t serverId_;

  mutable std::mutex mutex_;
  std::array<DsuController, dsu::kSlots> slots_{};
  std::vector<Client> clients_;
  Counters counters_;

  mutable std::shared_mutex socketLock_;
  UdpSocket socket_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace bridge

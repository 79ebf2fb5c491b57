#include "dsu_server.h"

#include <algorithm>
#include <chrono>
#include <random>

namespace bridge {
namespace {

std::int64_t SteadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool IsZero(const dsu::Mac& mac) {
  return std::all_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

DsuServer::DsuServer(std::function<std::int64_t()> nowUs, SendFunction send)
    : nowUs_(nowUs ? std::move(nowUs) : SteadyUs),
      send_(std::move(send)),
      serverId_(std::random_device{}()) {
  clients_.reserve(kMaxClients);
}

DsuServer::~DsuServer() {
  Close();
}

bool DsuServer::Open(const std::string& address, std::uint16_t port, std::string& error) {
  Close();
  if (!socket_.Open(address, port, error)) return false;
  running_ = true;
  thread_ = std::thread(&DsuServer::Run, this);
  return true;
}

std::uint16_t DsuServer::Port() const {
  std::shared_lock lock(socketLock_);
  return socket_.Port();
}

void DsuServer::Close() {
  running_ = false;
  socket_.Shutdown();
  if (thread_.joinable()) thread_.join();
  {
    std::unique_lock lock(socketLock_);
    socket_.Close();
  }
  std::lock_guard lock(mutex_);
  clients_.clear();
}

void DsuServer::Run() {
  // Larger than any valid request, so that a longer datagram reads as oversized.
  std::uint8_t buffer[4 * dsu::kMaxRequestSize];
  while (running_) {
    Endpoint from;
    const long length = socket_.ReceiveFrom(buffer, sizeof buffer, from, 200);
    if (length >= 0) {
      HandleRequest(buffer, static_cast<std::size_t>(length), from);  // an empty one is bad too
    } else if (length != UdpSocket::kNothing) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // don't spin on an error
    }
  }
}

void DsuServer::SetController(int slot, const DsuController& controller) {
  if (slot < 0 || slot >= dsu::kSlots) return;
  std::lock_guard lock(mutex_);
  slots_[slot] = controller;
}

dsu::SlotHeader DsuServer::Header(int slot) const {
  dsu::SlotHeader header;
  header.slot = static_cast<std::uint8_t>(slot);
  if (slots_[slot].connected) {
    header.state = dsu::kStateConnected;
    header.model = dsu::kModelFullGyro;
    header.connection = dsu::kConnectionBluetooth;
    header.mac = slots_[slot].mac;
  }
  return header;
}

bool DsuServer::Alive(const Client& client, std::int64_t nowUs) const {
  auto active = [nowUs](std::int64_t t) { return Active(t, nowUs); };
  return active(client.allUs) || std::any_of(client.slotUs.begin(), client.slotUs.end(), active) ||
         std::any_of(client.macUs.begin(), client.macUs.end(), active);
}

bool DsuServer::Subscribed(const Client& client, int slot, std::int64_t nowUs) const {
  if (Active(client.allUs, nowUs) || Active(client.slotUs[slot], nowUs)) return true;
  const dsu::Mac& mac = slots_[slot].mac;
  if (IsZero(mac)) return false;  // no MAC to match
  for (std::size_t k = 0; k < kMacsPerClient; ++k)
    if (client.macs[k] == mac && Active(client.macUs[k], nowUs)) return true;
  return false;
}

DsuServer::Client& DsuServer::Register(const Endpoint& from, std::int64_t nowUs) {
  auto found = std::find_if(clients_.begin(), clients_.end(),
                            [&](const Client& c) { return c.endpoint == from; });
  if (found == clients_.end()) {
    const auto before = clients_.size();
    std::erase_if(clients_, [&](const Client& c) { return !Alive(c, nowUs); });
    if (clients_.size() == kMaxClients) {
      clients_.erase(
          std::min_element(clients_.begin(), clients_.end(),
                           [](const Client& a, const Client& b) { return a.heardUs < b.heardUs; }));
    }
    counters_.clientsEvicted += before - clients_.size();
    found = clients_.insert(clients_.end(), Client{});
    found->endpoint = from;
  }
  found->heardUs = nowUs;
  return *found;
}

void DsuServer::HandleRequest(const std::uint8_t* bytes, std::size_t length, const Endpoint& from) {
  const dsu::Request request = dsu::ParseRequest(bytes, length);
  std::array<Outgoing, dsu::kSlots> replies;
  std::size_t count = 0;
  {
    std::lock_guard lock(mutex_);
    if (request.verdict != dsu::Verdict::kOk) {
      ++counters_.badPackets;
      return;
    }
    ++counters_.requests;
    const std::int64_t now = nowUs_();
    switch (request.type) {
      case dsu::kVersionType:
        replies[count++] = {from, dsu::BuildVersionPacket(serverId_)};
        break;
      case dsu::kInfoType:
        for (int k = 0; k < request.slotCount; ++k) {
          if (request.slots[k] < dsu::kSlots)
            replies[count++] = {from, dsu::BuildInfoPacket(serverId_, Header(request.slots[k]))};
        }
        break;
      case dsu::kDataType: {
        Client& client = Register(from, now);
        if ((request.flags & (dsu::kRegisterSlot | dsu::kRegisterMac)) == 0) client.allUs = now;
        if ((request.flags & dsu::kRegisterSlot) && request.slot < dsu::kSlots)
          client.slotUs[request.slot] = now;
        if (request.flags & dsu::kRegisterMac) {
          // The same MAC again, or else the registration that is oldest (or was never made).
          auto same = std::find(client.macs.begin(), client.macs.end(), request.mac);
          std::size_t k = same != client.macs.end()
                              ? static_cast<std::size_t>(same - client.macs.begin())
                              : static_cast<std::size_t>(
                                    std::min_element(client.macUs.begin(), client.macUs.end()) -
                                    client.macUs.begin());
          client.macs[k] = request.mac;
          client.macUs[k] = now;
        }
        break;
      }
    }
  }
  Send(replies.data(), count);
}

void DsuServer::SendData(int slot, const DsuPad& pad) {
  if (slot < 0 || slot >= dsu::kSlots) return;
  std::array<Outgoing, kMaxClients> packets;
  std::size_t count = 0;
  {
    std::lock_guard lock(mutex_);
    if (!slots_[slot].connected) return;
    const std::int64_t now = nowUs_();
    const dsu::SlotHeader header = Header(slot);
    const auto before = clients_.size();
    std::erase_if(clients_, [&](const Client& c) { return !Alive(c, now); });
    counters_.clientsEvicted += before - clients_.size();
    for (Client& client : clients_) {
      if (!Subscribed(client, slot, now)) continue;
      packets[count++] = {client.endpoint,
                          dsu::BuildDataPacket(serverId_, header, client.counter++, pad)};
    }
    counters_.dataPackets += count;
  }
  Send(packets.data(), count);
}

void DsuServer::Send(const Outgoing* packets, std::size_t count) {
  if (send_) {
    for (std::size_t k = 0; k < count; ++k)
      send_(packets[k].to, packets[k].packet.bytes.data(), packets[k].packet.size);
    return;
  }
  std::shared_lock lock(socketLock_);
  for (std::size_t k = 0; k < count; ++k)
    socket_.SendTo(packets[k].to, packets[k].packet.bytes.data(), packets[k].packet.size);
}

DsuServer::Counters DsuServer::Read() const {
  std::lock_guard lock(mutex_);
  Counters counters = counters_;
  counters.clients = clients_.size();
  return counters;
}

}  // namespace bridge

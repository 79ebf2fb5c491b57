// A minimal IPv4 UDP socket (POSIX sockets or Winsock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace bridge {

struct Endpoint {
  std::uint32_t address = 0;  // IPv4, host order (127.0.0.1 is 0x7F000001)
  std::uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
  std::string Text() const {  // "127.0.0.1:26760"
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
           std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF) + ':' +
           std::to_string(port);
  }
};

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Binds to an address ("127.0.0.1", "0.0.0.0", "localhost") and port (0: any free port).
  // false with the system's reason in error.
  bool Open(const std::string& address, std::uint16_t port, std::string& error);
  bool IsOpen() const { return handle_ != kNone; }
  std::uint16_t Port() const { return port_; }

  // Waits up to timeoutMs for a datagram: its length (0 for an empty one), kNothing on timeout
  // (or after Shutdown), -1 on an error. A datagram longer than capacity fills the buffer and
  // reads as capacity bytes: with a buffer larger than any valid request, such a length tells an
  // oversized one.
  static constexpr long kNothing = -2;
  long ReceiveFrom(std::uint8_t* buffer, std::size_t capacity, Endpoint& from, int timeoutMs);
  bool SendTo(const Endpoint& to, const std::uint8_t* bytes, std::size_t length);

  // Wakes a thread waiting in ReceiveFrom, which returns kNothing from then on; safe from any
  // thread.
  void Shutdown();
  // Releases the socket; call it once no other thread uses the socket.
  void Close();

 private:
  // No socket: -1 is neither a descriptor nor a SOCKET (INVALID_SOCKET is ~0).
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // a descriptor, or a Winsock SOCKET
  std::uint16_t port_ = 0;
  std::atomic<bool> shutdown_{false};
};

}  // namespace bridge

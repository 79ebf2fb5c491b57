#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "udp_socket.h"

namespace bridge {
namespace {

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::system_category().message(errno);
}

}  // namespace

bool UdpSocket::Open(const std::string& address, std::uint16_t port, std::string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(address.c_str(), nullptr, &hints, &found);
  if (status != 0 || !found) {
    error = "address " + address + ": " + gai_strerror(status);
    return false;
  }
  sockaddr_in local{};
  std::memcpy(&local, found->ai_addr, sizeof local);
  freeaddrinfo(found);
  local.sin_port = htons(port);

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = SystemError("socket");
    return false;
  }
  socklen_t size = sizeof local;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    error = SystemError(("bind " + address + ":" + std::to_string(port)).c_str());
    close(fd);
    return false;
  }
  handle_ = fd;
  port_ = ntohs(local.sin_port);
  shutdown_ = false;
  return true;
}

long UdpSocket::ReceiveFrom(std::uint8_t* buffer, std::size_t capacity, Endpoint& from,
                            int timeoutMs) {
  if (handle_ == kNone || shutdown_) return kNothing;
  const int fd = static_cast<int>(handle_);
  pollfd wait{fd, POLLIN, 0};
  const int ready = poll(&wait, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? kNothing : -1;
  if (ready == 0 || shutdown_) return kNothing;
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  const ssize_t length =
      recvfrom(fd, buffer, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), &size);
  if (length < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kNothing : -1;
  from.address = ntohl(peer.sin_addr.s_addr);
  from.port = ntohs(peer.sin_port);
  return static_cast<long>(length);
}

bool UdpSocket::SendTo(const Endpoint& to, const std::uint8_t* bytes, std::size_t length) {
  if (handle_ == kNone) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(to.address);
  peer.sin_port = htons(to.port);
  const ssize_t sent = sendto(static_cast<int>(handle_), bytes, length, MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  return sent == static_cast<ssize_t>(length);
}

void UdpSocket::Shutdown() {
  shutdown_ = true;
  // On an unbound peer this fails with ENOTCONN, but it still wakes a thread in poll().
  if (handle_ != kNone) shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

void UdpSocket::Close() {
  if (handle_ == kNone) return;
  close(static_cast<int>(handle_));
  handle_ = kNone;
  port_ = 0;
}

}  // namespace bridge

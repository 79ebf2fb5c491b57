// Winsock; the program links ws2_32.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>
#include <string>

#include "udp_socket.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace bridge {
namespace {

std::string SystemError(const std::string& what, int code = WSAGetLastError()) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return what + ": " + (message.empty() ? "error " + std::to_string(code) : message);
}

bool StartWinsock(std::string& error) {
  static std::once_flag once;
  static int status = 0;
  std::call_once(once, [] {
    WSADATA data;
    status = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (status != 0) error = SystemError("WSAStartup", status);
  return status == 0;
}

SOCKET Handle(std::intptr_t handle) {
  return static_cast<SOCKET>(handle);
}

}  // namespace

bool UdpSocket::Open(const std::string& address, std::uint16_t port, std::string& error) {
  Close();
  if (!StartWinsock(error)) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(address.c_str(), nullptr, &hints, &found);
  if (status != 0 || !found) {
    error = SystemError("address " + address, status);
    return false;
  }
  sockaddr_in local{};
  std::memcpy(&local, found->ai_addr, sizeof local);
  freeaddrinfo(found);
  local.sin_port = htons(port);

  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    error = SystemError("socket");
    return false;
  }
  int size = sizeof local;
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    error = SystemError("bind " + address + ":" + std::to_string(port));
    closesocket(s);
    return false;
  }
  // Without this, an ICMP "port unreachable" for an earlier send fails the next recvfrom.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  handle_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(local.sin_port);
  shutdown_ = false;
  return true;
}

long UdpSocket::ReceiveFrom(std::uint8_t* buffer, std::size_t capacity, Endpoint& from,
                            int timeoutMs) {
  if (handle_ == kNone || shutdown_) return kNothing;
  const SOCKET s = Handle(handle_);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval timeout{timeoutMs / 1000, timeoutMs % 1000 * 1000};
  const int ready = select(0, &readable, nullptr, nullptr, &timeout);
  if (ready < 0) return -1;
  if (ready == 0 || shutdown_) return kNothing;
  sockaddr_in peer{};
  int size = sizeof peer;
  int length = recvfrom(s, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                        reinterpret_cast<sockaddr*>(&peer), &size);
  if (length == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    if (code == WSAEMSGSIZE)
      length = static_cast<int>(capacity);  // the buffer holds its first capacity bytes
    else
      return code == WSAECONNRESET || code == WSAEWOULDBLOCK || code == WSAEINTR ? kNothing : -1;
  }
  from.address = ntohl(peer.sin_addr.s_addr);
  from.port = ntohs(peer.sin_port);
  return length;
}

bool UdpSocket::SendTo(const Endpoint& to, const std::uint8_t* bytes, std::size_t length) {
  if (handle_ == kNone) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = htonl(to.address);
  peer.sin_port = htons(to.port);
  const int sent =
      sendto(Handle(handle_), reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0,
             reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  return sent == static_cast<int>(length);
}

void UdpSocket::Shutdown() {
  shutdown_ = true;
  // select() may not wake for this on a UDP socket; ReceiveFrom's timeout bounds the wait.
  if (handle_ != kNone) shutdown(Handle(handle_), SD_BOTH);
}

void UdpSocket::Close() {
  if (handle_ == kNone) return;
  closesocket(Handle(handle_));
  handle_ = kNone;
  port_ = 0;
}

}  // namespace bridge

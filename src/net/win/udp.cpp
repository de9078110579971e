#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <cstring>

#include "net/udp.hpp"

namespace varnode::UDP {
namespace {

sockaddr_in to_sockaddr(IP::Address address, std::uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  std::memcpy(&in.sin_addr.s_addr, address.bytes().data(), 4);
  return in;
}

SOCKET socket_of(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

constexpr int do_not_fragment = 14;  // IP_DONTFRAGMENT of the IP level

}  // namespace

Socket::Socket(IP::Address local, std::uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) throw Exception::Internal{};
  const sockaddr_in address = to_sockaddr(local, port);
  const BOOL on = TRUE;
  const int buffer = receive_buffer_size;
  const DWORD fragment = 1;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
      ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer) != 0 ||
      ::setsockopt(s, IPPROTO_IP, do_not_fragment, reinterpret_cast<const char*>(&fragment), sizeof fragment) != 0) {
    ::closesocket(s);
    throw Exception::Network{};
  }
  handle_ = static_cast<std::intptr_t>(s);
}

Socket::~Socket() { ::closesocket(socket_of(handle_)); }

std::uint16_t Socket::local_port() const {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(socket_of(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw Exception::Internal{};
  return ntohs(address.sin_port);
}

void Socket::send(IP::Address destination, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  const sockaddr_in address = to_sockaddr(destination, port);
  const int sent = ::sendto(socket_of(handle_), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                            reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent == SOCKET_ERROR || static_cast<std::size_t>(sent) != size) throw Exception::Network{};
}

void Socket::enlarge_receive_buffer() {
  for (int size = large_receive_buffer_size; size > receive_buffer_size; size /= 2)
    if (::setsockopt(socket_of(handle_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size) == 0)
      return;
}

std::optional<Datagram> Socket::receive(std::uint32_t wait, std::uint8_t* data, std::size_t capacity) {
  // Windows' fd_set is a list of handles, not a bitmap, so select has no
  // descriptor-number limit there.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket_of(handle_), &readable);
  timeval timeout{static_cast<long>(wait / 1000), static_cast<long>((wait % 1000) * 1000)};
  const int result = ::select(0, &readable, nullptr, nullptr, &timeout);
  if (result == SOCKET_ERROR) throw Exception::Network{};
  if (result == 0) return std::nullopt;
  sockaddr_in source{};
  int length = sizeof source;
  const int received = ::recvfrom(socket_of(handle_), reinterpret_cast<char*>(data), static_cast<int>(capacity), 0,
                                  reinterpret_cast<sockaddr*>(&source), &length);
  if (received == SOCKET_ERROR) {
    // An earlier datagram drew an ICMP port-unreachable.
    if (::WSAGetLastError() == WSAECONNRESET) throw Exception::Network{};
    throw Exception::Internal{};
  }
  std::array<std::uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &source.sin_addr.s_addr, 4);
  return Datagram{IP::Address{bytes}, ntohs(source.sin_port), static_cast<std::size_t>(received)};
}

}  // namespace varnode::UDP

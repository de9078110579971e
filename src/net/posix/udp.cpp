#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
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

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

Socket::Socket(IP::Address local, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) throw Exception::Internal{};
  // Keep descriptors out of programs the application starts; fcntl rather
  // than SOCK_CLOEXEC so that the same code builds on macOS.
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  const sockaddr_in address = to_sockaddr(local, port);
  const int on = 1;
  const int buffer = receive_buffer_size;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) != 0) {
    ::close(fd);
    throw Exception::Network{};
  }
  handle_ = fd;
}

Socket::~Socket() { ::close(fd_of(handle_)); }

std::uint16_t Socket::local_port() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_of(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0) throw Exception::Internal{};
  return ntohs(address.sin_port);
}

void Socket::send(IP::Address destination, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  const sockaddr_in address = to_sockaddr(destination, port);
  const ssize_t sent =
      ::sendto(fd_of(handle_), data, size, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent < 0 || static_cast<std::size_t>(sent) != size) throw Exception::Network{};
}

void Socket::enlarge_receive_buffer() {
  const int fd = fd_of(handle_);
#ifdef SO_RCVBUFFORCE
  // Linux lets a privileged process pass the system-wide ceiling.
  const int wanted = large_receive_buffer_size;
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) == 0) return;
#endif
  // Linux cuts SO_RCVBUF to its ceiling silently; BSDs refuse a value above
  // theirs, so halve until one is taken.
  for (int size = large_receive_buffer_size; size > receive_buffer_size; size /= 2)
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) == 0) return;
}

std::optional<Datagram> Socket::receive(std::uint32_t wait, std::uint8_t* data, std::size_t capacity) {
  // poll rather than select: no limit on descriptor numbers.
  pollfd ready{fd_of(handle_), POLLIN, 0};
  // poll takes an int: a longer wait would turn negative, which waits for ever.
  const int timeout = static_cast<int>(std::min<std::uint32_t>(wait, INT_MAX));
  int result;
  do {
    result = ::poll(&ready, 1, timeout);
  } while (result < 0 && errno == EINTR);
  if (result < 0) throw Exception::Network{};
  if (result == 0) return std::nullopt;
  sockaddr_in source{};
  socklen_t length = sizeof source;
  const ssize_t received =
      ::recvfrom(fd_of(handle_), data, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &length);
  // Readable yet nothing to read (a datagram dropped for a bad checksum): the
  // wait ends with nothing to show.
  if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
  if (received < 0) throw Exception::Internal{};
  std::array<std::uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &source.sin_addr.s_addr, 4);
  return Datagram{IP::Address{bytes}, ntohs(source.sin_port), static_cast<std::size_t>(received)};
}

}  // namespace varnode::UDP

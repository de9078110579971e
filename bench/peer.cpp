#include "peer.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
  put_u16(p, static_cast<std::uint16_t>(v >> 16));
  put_u16(p + 2, static_cast<std::uint16_t>(v));
}

std::uint32_t get_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

sockaddr_in socket_address(std::uint32_t host, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(host);
  address.sin_port = htons(port);
  return address;
}

int bound_socket(std::uint32_t host, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in self = socket_address(host, port);
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

std::size_t requested_bytes(const std::uint8_t* request) {
  return static_cast<std::size_t>(std::popcount(request[8])) * get_u32(request + 9) * 4;
}

std::size_t stream_chunk(std::uint8_t* datagram, const std::uint8_t* request, std::size_t offset, std::size_t size,
                         float (*value)(std::size_t)) {
  put_u16(datagram, static_cast<std::uint16_t>((request[0] << 8) | 0x01));
  put_u16(datagram + 2, static_cast<std::uint16_t>(4 + size));
  std::memcpy(datagram + 4, request + 4, 4);  // transaction id
  put_u32(datagram + 8, static_cast<std::uint32_t>(offset));
  for (std::size_t i = 0; i < size / 4; ++i)
    put_u32(datagram + 12 + 4 * i, std::bit_cast<std::uint32_t>(value(offset / 4 + i)));
  return 12 + size;
}

int responder_socket() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  const timeval tick{0, 20000};
  const int buffer = 4 << 20;
  const sockaddr_in any = socket_address(INADDR_ANY, dcp_port);
  if (fd < 0 || setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    std::perror("responder");
    std::exit(1);
  }
  return fd;
}

// The responder threads share one socket, so whichever is free takes the
// next request: with a socket each, the kernel would pick the responder by a
// hash of the client's port, and the two clients could land on responders
// that run on different cores, which on a quiet machine alone changes a
// round trip by tens of microseconds.
void acknowledge(int fd, const std::atomic<bool>& stop) {
  std::uint8_t data[1500];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  while (!stop) {
    sockaddr_in source{};
    iovec in{data, sizeof data};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &in;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // Blocking, so that one waiting responder is woken per request; the
    // socket's receive time-out lets it see `stop`.
    const ssize_t n = recvmsg(fd, &message, 0);
    if (n < 8) continue;
    in_pktinfo destination{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) std::memcpy(&destination, CMSG_DATA(c), sizeof destination);
    std::uint8_t reply[8] = {0, 1, 0, 0};
    std::memcpy(reply + 4, data + 4, 4);
    iovec out{reply, sizeof reply};
    alignas(cmsghdr) char reply_control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr answer{};
    answer.msg_name = &source;
    answer.msg_namelen = sizeof source;
    answer.msg_iov = &out;
    answer.msg_iovlen = 1;
    answer.msg_control = reply_control;
    answer.msg_controllen = sizeof reply_control;
    cmsghdr* c = CMSG_FIRSTHDR(&answer);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo from{};
    from.ipi_spec_dst = destination.ipi_addr;
    std::memcpy(CMSG_DATA(c), &from, sizeof from);
    sendmsg(fd, &answer, 0);
  }
}

}  // namespace bench

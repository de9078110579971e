// Stands in for net/posix/udp.cpp, net/posix/ip.cpp (or their Windows
// twins) and net/clock.cpp in the fuzz programs: it defines every symbol
// those files define, so none of them is linked. (net/udp.cpp, the
// throwing receive over the one here, is linked as it is.)
#include "fake_net.hpp"

#include "net/clock.hpp"

#include <algorithm>
#include <deque>

namespace varnode {
namespace {

struct Queued {
  std::uint8_t flags;
  Bytes datagram;
};

struct Wire {
  std::deque<Queued> replies;
  std::vector<fuzz::Sent> sent;
  std::vector<fuzz::Delivered> delivered;
  std::uint64_t now = 1'000'000;
  std::intptr_t sockets = 0;
};

Wire& wire() {
  static Wire* instance = new Wire;
  return *instance;
}

// Later than any time-out of a call (at most 65535 ms).
constexpr std::uint64_t leap = 100'000;

}  // namespace

namespace fuzz {

void reset_wire() {
  // Released, not just cleared: libFuzzer takes a run that leaves more
  // allocated than it found for a leak and checks the whole heap.
  std::deque<Queued>().swap(wire().replies);
  std::vector<Sent>().swap(wire().sent);
  std::vector<Delivered>().swap(wire().delivered);
}

void queue_reply(std::uint8_t flags, Bytes datagram) { wire().replies.push_back({flags, std::move(datagram)}); }
const std::vector<Sent>& sent() { return wire().sent; }
const std::vector<Delivered>& delivered() { return wire().delivered; }

}  // namespace fuzz

namespace UDP {

Socket::Socket(IP::Address, std::uint16_t) : handle_(++wire().sockets) {}
Socket::~Socket() = default;

std::uint16_t Socket::local_port() const { return static_cast<std::uint16_t>(40000 + handle_); }

void Socket::send(IP::Address destination, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  wire().sent.push_back({destination, port, Bytes(data, data + size)});
}

void Socket::enlarge_receive_buffer() {}

std::optional<Datagram> Socket::receive(std::uint32_t wait, std::uint8_t* data, std::size_t capacity) {
  Wire& w = wire();
  if (w.replies.empty()) {
    w.now += wait + leap;
    return std::nullopt;
  }
  Queued reply = std::move(w.replies.front());
  w.replies.pop_front();
  IP::Address source = fuzz::module_address;
  std::uint32_t id = 0;
  if (!w.sent.empty()) {
    const fuzz::Sent& request = w.sent.back();
    if (!request.destination.is_broadcast()) source = request.destination;
    if (request.datagram.size() >= 8) id = (std::uint32_t{request.datagram[4]} << 24) | (std::uint32_t{request.datagram[5]} << 16) |
                 (std::uint32_t{request.datagram[6]} << 8) | request.datagram[7];
  }
  if ((reply.flags & fuzz::keep_id) == 0 && reply.datagram.size() >= 8) {
    for (int i = 0; i < 4; ++i) reply.datagram[4 + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
  }
  if ((reply.flags & fuzz::other_source) != 0) source = IP::Address(source.host_value() ^ 0x40u);
  const std::uint16_t port = (reply.flags & fuzz::other_port) != 0 ? 30001 : 30000;
  // A datagram larger than the buffer is cut, as the socket cuts it.
  const std::size_t size = std::min(capacity, reply.datagram.size());
  std::copy_n(reply.datagram.begin(), size, data);
  w.delivered.push_back({source, port, reply.datagram});
  return Datagram{source, port, size};
}

}  // namespace UDP

namespace IP {

InterfaceTable interfaces() { return {{"fuzz0", Interface{fuzz::interface_address, fuzz::interface_netmask, Address{}}}}; }

bool Address::is_broadcast() const {
  if (*this == broadcast_address) return true;
  for (const auto& [name, interface] : interfaces())
    if (is_directed_broadcast(*this, interface)) return true;
  return false;
}

}  // namespace IP

std::uint64_t current_milliseconds() { return wire().now; }
void pause_millisecond() { ++wire().now; }

}  // namespace varnode

#include "input.hpp"

namespace varnode::fuzz {

void queue_replies(Input& input) {
  while (input.left() > 0) {
    const std::uint8_t flags = input.u8();
    const std::size_t size = input.u16() % (UDP::largest_datagram + 1);
    queue_reply(flags, input.bytes(size));
  }
}

}  // namespace varnode::fuzz

#pragma once
// A fake of the net layer for fuzzing: sockets that send nowhere and receive
// the replies a fuzz input queued, one interface, and a clock that jumps
// past every deadline as soon as nothing is left to receive, so that a call
// waiting for an answer that never comes ends at once. Single-threaded.

#include <cstdint>
#include <vector>

#include "net/udp.hpp"

namespace varnode::fuzz {

// The one interface the fake reports, and the module the targets talk to.
inline constexpr IP::Address interface_address{0xC6120001u};  // 198.18.0.1/24
inline constexpr IP::Address interface_netmask{0xFFFFFF00u};
inline constexpr IP::Address module_address{0xC612000Au};  // 198.18.0.10

struct Sent {
  IP::Address destination;
  std::uint16_t port = 0;
  Bytes datagram;
};

struct Delivered {
  IP::Address source;
  std::uint16_t port = 0;
  Bytes datagram;
};

// How a queued reply is delivered. By default it comes from port 30000 of
// the address the last request went to (a module of the fake interface for
// a broadcast) and carries that request's transaction id in bytes 4 to 7.
enum ReplyFlags : std::uint8_t {
  keep_id = 1,         // the datagram's own transaction id stays
  other_source = 2,    // from another address
  other_port = 4,      // from another port
};

// Forgets every queued reply and every record, releasing their memory; a
// target calls it before and after each input.
void reset_wire();
void queue_reply(std::uint8_t flags, Bytes datagram);
const std::vector<Sent>& sent();
const std::vector<Delivered>& delivered();

}  // namespace varnode::fuzz

namespace varnode::fuzz {

class Input;
// Queues the rest of the input as replies: each a flags byte, a 16-bit size
// and that many bytes of datagram (cut short by the end of the input).
void queue_replies(Input& input);

}  // namespace varnode::fuzz

#pragma once
// Sending a request and waiting for its replies: the send and receive
// steps and the transaction that serves every exchange.

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "dcp/datagram.hpp"
#include "dcp/socket_pool.hpp"
#include "net/clock.hpp"

namespace varnode::DCP {

struct Received {
  IP::Address source;
  Message message;  // views the buffer handed to receive
};

// The message in a datagram received into `buffer`, if it came from port
// 30000 and decodes; anything else is for the caller to drop. The message
// views `buffer`.
std::optional<Message> accepted(const UDP::Datagram& datagram, std::span<const std::uint8_t> buffer);
// Sends one datagram to port 30000 of `destination`; throws Exception::Network.
void send(UDP::Socket& socket, IP::Address destination, std::uint16_t code, std::uint32_t transaction_id,
          View payload);
// The first well-formed datagram from port 30000 before `deadline` (in
// current_milliseconds), or nothing. One readiness wait runs to the deadline
// rather than in slices. Throws Exception::Network.
std::optional<Received> receive_until(UDP::Socket& socket, std::uint64_t deadline, std::span<std::uint8_t> buffer);

// One request and its replies: the transaction id and a pooled socket, taken
// under one hold of the library mutex and given back when it ends. Serves
// the single exchange and the streamed measurement alike.
class Transaction {
 public:
  // Throws Exception::Network when no socket can be made.
  explicit Transaction(IP::Address destination);

  std::uint32_t id() const { return id_; }
  // Throws Exception::Network.
  void send(std::uint16_t code, View payload);
  // The next datagram from the destination's port 30000 that carries this
  // transaction's id, or nothing once `deadline` has passed; anything else
  // (a late reply to an earlier transaction on this socket, say) is dropped.
  // The message views the lease's buffer until the next call. Throws
  // Exception::Network.
  std::optional<Message> next_reply(std::uint64_t deadline);

 private:
  Transaction(IP::Address destination, const std::lock_guard<std::mutex>& held);

  IP::Address destination_;
  std::uint32_t id_;
  SocketPool::Lease lease_;
};

}  // namespace varnode::DCP

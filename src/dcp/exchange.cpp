#include "dcp/exchange.hpp"

#include <algorithm>

#include "dcp/lock.hpp"
#include "dcp/transaction_id.hpp"

namespace varnode::DCP {

namespace {

void send_datagram(UDP::Socket& socket, IP::Address destination, View datagram) {
  try {
    socket.send(destination, port, datagram.data(), datagram.size());
  } catch (const UDP::Exception&) {
    throw Exception::Network{};
  }
}

}  // namespace

void send(UDP::Socket& socket, IP::Address destination, std::uint16_t code, std::uint32_t transaction_id,
          View payload) {
  send_datagram(socket, destination, encode(code, transaction_id, payload));
}

std::optional<Message> accepted(const UDP::Datagram& datagram, std::span<const std::uint8_t> buffer) {
  if (datagram.port != port) return std::nullopt;
  try {
    return decode(buffer.first(datagram.size));
  } catch (const Exception::Parameter&) {
    return std::nullopt;  // malformed: dropped like any other stranger
  }
}

std::optional<Received> receive_until(UDP::Socket& socket, std::uint64_t deadline, std::span<std::uint8_t> buffer) {
  for (;;) {
    // At least one short attempt, so that a deadline already reached still
    // takes what is queued.
    const std::uint64_t now = current_milliseconds();
    const auto wait = static_cast<std::uint32_t>(std::max<std::uint64_t>(deadline > now ? deadline - now : 0, 1));
    std::optional<UDP::Datagram> datagram;
    try {
      datagram = socket.receive(wait, buffer.data(), buffer.size());
    } catch (const UDP::Exception&) {
      throw Exception::Network{};
    }
    if (datagram) {
      const std::optional<Message> message = accepted(*datagram, buffer);
      if (message) return Received{datagram->source, *message};
    }
    if (current_milliseconds() >= deadline) return std::nullopt;
  }
}

Transaction::Transaction(IP::Address destination) : Transaction(destination, std::lock_guard(library_mutex())) {}

// The id and the lease under one hold: two short steps, one lock.
Transaction::Transaction(IP::Address destination, const std::lock_guard<std::mutex>& held)
    : destination_(destination), id_(next_transaction_id(held)), lease_(socket_pool().lease(held)) {}

void Transaction::send(std::uint16_t code, View payload) {
  Bytes& datagram = lease_.request();
  encode(code, id_, payload, datagram);
  send_datagram(lease_.socket(), destination_, datagram);
}

std::optional<Message> Transaction::next_reply(std::uint64_t deadline) {
  for (;;) {
    const std::optional<Received> received = receive_until(lease_.socket(), deadline, lease_.reply());
    if (!received) return std::nullopt;
    if (received->source == destination_ && received->message.transaction_id == id_) return received->message;
    // Strays can come faster than the shortest wait: only the first attempt
    // may take what is queued once the deadline is reached.
    if (current_milliseconds() >= deadline) return std::nullopt;
  }
}

}  // namespace varnode::DCP

#include "dcp/broadcast.hpp"

#include <set>

#include "dcp/exchange.hpp"
#include "net/clock.hpp"

namespace varnode::DCP {

InterfaceSockets::InterfaceSockets() {
  IP::InterfaceTable table;
  try {
    table = IP::interfaces();
  } catch (const IP::Exception&) {
    throw Exception::Network{};
  }
  // The table is read once: an interface that vanishes after it was listed
  // fails only its own bind, and is left out like any other unusable one.
  std::set<IP::Address> bound;
  for (const auto& [name, interface] : table) {
    if (!bound.insert(interface.address).second) continue;
    try {
      auto socket = std::make_unique<UDP::Socket>(interface.address, 0);
      socket->enlarge_receive_buffer();
      sockets_.push_back(std::move(socket));
    } catch (const UDP::Exception::Internal&) {
      // No descriptor to be had: a search on fewer interfaces than asked
      // would pass off a partial answer as the whole one.
      throw Exception::Network{};
    } catch (const UDP::Exception&) {
      // An address that cannot be bound (gone since the listing) is left out.
    }
  }
}

void broadcast(const InterfaceSockets& sockets, std::uint16_t code, std::uint32_t transaction_id, View payload) {
  for (const auto& socket : sockets.sockets()) {
    try {
      send(*socket, IP::broadcast_address, code, transaction_id, payload);
    } catch (const Exception&) {
    }
  }
}

std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer) {
  // Replies to a broadcast come as one burst; every datagram already queued
  // is read before the pause, so that the sockets' buffers never overflow
  // while the loop sleeps. A run of dropped datagrams ends the step without
  // a pause, so that a flood of them cannot hold the caller past its window.
  buffer.resize(UDP::largest_datagram);
  std::size_t dropped = 0;
  while (dropped < 64) {
    bool pending = false;
    for (const auto& socket : sockets.sockets()) {
      std::optional<UDP::Datagram> datagram;
      try {
        datagram = socket->receive(0, buffer.data(), buffer.size());
      } catch (const UDP::Exception&) {
        // A failing socket counts as empty, so that it cannot keep the loop spinning.
      }
      if (!datagram) continue;
      pending = true;
      if (const std::optional<Message> message = accepted(*datagram, buffer)) return message;
      ++dropped;
    }
    if (!pending) {
      pause_millisecond();
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace varnode::DCP

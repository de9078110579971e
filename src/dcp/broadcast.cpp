#include "dcp/broadcast.hpp"

#include "dcp/exchange.hpp"
#include "net/clock.hpp"

namespace varnode::DCP {

InterfaceSockets::InterfaceSockets() {
  try {
    for (const std::string& name : IP::interface_names()) {
      const IP::Address address = IP::interface_address(name);
      try {
        sockets_.push_back(std::make_unique<UDP::Socket>(address, 0));
      } catch (const UDP::Exception&) {
        // An interface without a usable socket is simply left out.
      }
    }
  } catch (const IP::Exception&) {
    throw Exception::Network{};
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
  for (const auto& socket : sockets.sockets()) {
    try {
      return receive(*socket, 0, buffer).message;
    } catch (const Exception&) {
    }
  }
  pause_millisecond();
  return std::nullopt;
}

}  // namespace varnode::DCP
